#include "quotes/quoterule.h"

#include "textio/textscan.h"

#include <cstring>

namespace parvello {

namespace {

// text with every c replaced by with (what is inserted is not looked at again).
std::u16string replacedAll(const std::u16string& text, char16_t c, const std::u16string& with) {
    std::u16string result;
    for (const char16_t unit : text) {
        if (unit == c)
            result += with;
        else
            result += unit;
    }
    return result;
}

} // namespace

QuoteRule FirstSelectedRule(const std::array<bool, 6>& selected) {
    static constexpr std::array<QuoteRule, 6> rules = {
        QuoteRule::RemoveDouble,   QuoteRule::RemoveSingle, QuoteRule::DoubleToSingle,
        QuoteRule::SingleToDouble, QuoteRule::DoubleToText, QuoteRule::SingleToText};
    for (size_t i = 0; i < rules.size(); ++i)
        if (selected[i])
            return rules[i];
    return QuoteRule::None;
}

QuoteReplacer::QuoteReplacer(QuoteRule rule, std::u16string_view doubleText,
                             std::u16string_view singleText)
    : rule_(rule) {
    if (rule_ == QuoteRule::None)
        return;
    const bool doubleFamily = rule_ == QuoteRule::RemoveDouble ||
                              rule_ == QuoteRule::DoubleToSingle ||
                              rule_ == QuoteRule::DoubleToText;
    family_ = doubleFamily ? DoubleQuotes : SingleQuotes;
    const std::array<char16_t, 3>& other = doubleFamily ? SingleQuotes : DoubleQuotes;

    // The replacement text of each position.
    std::array<std::u16string, 3> replacement;
    for (size_t p = 0; p < 3; ++p) {
        switch (rule_) {
        case QuoteRule::DoubleToSingle:
        case QuoteRule::SingleToDouble:
            replacement[p] = std::u16string(1, other[p]);
            break;
        case QuoteRule::DoubleToText:
            replacement[p] = doubleText;
            break;
        case QuoteRule::SingleToText:
            replacement[p] = singleText;
            break;
        case QuoteRule::None:
        case QuoteRule::RemoveDouble:
        case QuoteRule::RemoveSingle:
            break; // deleted
        }
    }
    // Run the three replacements, in order, on each quote character on its own.
    for (size_t q = 0; q < 3; ++q) {
        std::u16string text(1, family_[q]);
        for (size_t p = 0; p < 3; ++p)
            text = replacedAll(text, family_[p], replacement[p]);
        changes_[q] = text != std::u16string(1, family_[q]);
        for (const char16_t unit : text)
            if (unit >= 0xD800 && unit < 0xE000)
                piecesStandAlone_ = false;
        results_[q] = std::move(text);
    }
}

namespace {

// The last byte of each quote the encoding has, repeated to fill three.
std::array<char, 3> lastBytesOf(const std::array<std::string, 3>& quotes) {
    std::array<char, 3> bytes{};
    size_t count = 0;
    for (const std::string& quote : quotes)
        if (!quote.empty())
            bytes[count++] = quote.back();
    for (size_t k = count; k > 0 && k < 3; ++k)
        bytes[k] = bytes[0];
    return bytes;
}

std::array<std::string, 3> encodedQuotes(const QuoteReplacer& rule, OutputEncoding encoding) {
    std::array<std::string, 3> quotes;
    if (rule.rule() == QuoteRule::None)
        return quotes;
    const TextEncoder encoder(encoding);
    for (size_t q = 0; q < 3; ++q)
        if (!encoder.append(std::u16string_view(&rule.family()[q], 1), quotes[q]) ||
            quotes[q].size() > 3)
            quotes[q].clear();
    return quotes;
}

} // namespace

ByteQuoteReplacer::ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding)
    : ByteQuoteReplacer(rule, encoding, encodedQuotes(rule, encoding)) {}

ByteQuoteReplacer::ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding,
                                     const std::array<std::string, 3>& quotes)
    : rule_(rule), lastBytes_(lastBytesOf(quotes)), search_(nullptr, 0, lastBytes_) {
    if (rule.rule() == QuoteRule::None)
        return;
    const TextEncoder encoder(encoding);
    size_t needles = 0;
    for (size_t q = 0; q < 3; ++q) {
        if (!quotes[q].empty()) {
            quotes_[q].length = std::ptrdiff_t(quotes[q].size());
            std::memcpy(quotes_[q].bytes, quotes[q].data(), quotes[q].size());
            ++needles;
        }
        encodable_[q] = encoder.append(rule.result(q), results_[q]);
    }
    none_ = needles == 0;
}

std::u16string_view QuoteReplacer::apply(std::u16string_view line, std::u16string& scratch) const {
    if (rule_ == QuoteRule::None || FindAnyOf(line, family_) < 0)
        return line;
    scratch.clear();
    forEachPiece(line, [&scratch](std::u16string_view piece) {
        scratch.append(piece);
        return true;
    });
    return scratch;
}

std::u16string QuoteReplacer::apply(std::u16string_view line) const {
    std::u16string scratch;
    const std::u16string_view result = apply(line, scratch);
    return result.data() == scratch.data() ? std::move(scratch) : std::u16string(result);
}

std::u16string ApplyQuoteRule(std::u16string_view line, QuoteRule rule,
                              std::u16string_view doubleText, std::u16string_view singleText) {
    return QuoteReplacer(rule, doubleText, singleText).apply(line);
}

std::ptrdiff_t FindAnyOf(std::u16string_view text, const std::array<char16_t, 3>& characters) {
    const std::ptrdiff_t n = std::ptrdiff_t(text.size());
    const std::ptrdiff_t found = FindAnyOf3(text.data(), n, characters);
    return found < n ? found : -1;
}

} // namespace parvello
