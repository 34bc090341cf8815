#include "quotes/quoterule.h"

#include "textio/textscan.h"

#include <cstring>

namespace parvello {

QuoteRule FirstSelectedRule(const std::array<bool, 6>& selected) {
    static constexpr std::array<QuoteRule, 6> rules = {
        QuoteRule::RemoveDouble,   QuoteRule::RemoveSingle, QuoteRule::DoubleToSingle,
        QuoteRule::SingleToDouble, QuoteRule::DoubleToText, QuoteRule::SingleToText};
    for (size_t i = 0; i < rules.size(); ++i)
        if (selected[i])
            return rules[i];
    return QuoteRule::None;
}

QuoteReplacer::QuoteReplacer(QuoteRule rule, const QString& doubleText, const QString& singleText)
    : rule_(rule) {
    if (rule_ == QuoteRule::None)
        return;
    const bool doubleFamily = rule_ == QuoteRule::RemoveDouble ||
                              rule_ == QuoteRule::DoubleToSingle ||
                              rule_ == QuoteRule::DoubleToText;
    family_ = doubleFamily ? DoubleQuotes : SingleQuotes;
    const std::array<char16_t, 3>& other = doubleFamily ? SingleQuotes : DoubleQuotes;

    // The replacement text of each position.
    std::array<QString, 3> replacement;
    for (size_t p = 0; p < 3; ++p) {
        switch (rule_) {
        case QuoteRule::DoubleToSingle:
        case QuoteRule::SingleToDouble:
            replacement[p] = QString(QChar(other[p]));
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
        QString text{QChar(family_[q])};
        for (size_t p = 0; p < 3; ++p)
            text.replace(QChar(family_[p]), replacement[p]);
        results_[q] = text;
        changes_[q] = text != QString(QChar(family_[q]));
        for (const QChar unit : text)
            if (unit.isSurrogate())
                piecesStandAlone_ = false;
    }
}

namespace {

// The last byte of each quote the encoding has, repeated to fill three.
std::array<char, 3> lastBytesOf(const std::array<QByteArray, 3>& quotes) {
    std::array<char, 3> bytes{};
    size_t count = 0;
    for (const QByteArray& quote : quotes)
        if (!quote.isEmpty())
            bytes[count++] = quote.back();
    for (size_t k = count; k > 0 && k < 3; ++k)
        bytes[k] = bytes[0];
    return bytes;
}

std::array<QByteArray, 3> encodedQuotes(const QuoteReplacer& rule, OutputEncoding encoding) {
    std::array<QByteArray, 3> quotes;
    if (rule.rule() == QuoteRule::None)
        return quotes;
    const TextEncoder encoder(encoding);
    for (size_t q = 0; q < 3; ++q) {
        std::string quote;
        const char16_t unit = rule.family()[q];
        if (encoder.append(std::u16string_view(&unit, 1), quote) && quote.size() <= 3)
            quotes[q] = QByteArray(quote.data(), qsizetype(quote.size()));
    }
    return quotes;
}

} // namespace

ByteQuoteReplacer::ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding)
    : ByteQuoteReplacer(rule, encoding, encodedQuotes(rule, encoding)) {}

ByteQuoteReplacer::ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding,
                                     const std::array<QByteArray, 3>& quotes)
    : rule_(rule), lastBytes_(lastBytesOf(quotes)), search_(nullptr, 0, lastBytes_) {
    if (rule.rule() == QuoteRule::None)
        return;
    const TextEncoder encoder(encoding);
    size_t needles = 0;
    for (size_t q = 0; q < 3; ++q) {
        if (!quotes[q].isEmpty()) {
            quotes_[q].length = quotes[q].size();
            std::memcpy(quotes_[q].bytes, quotes[q].constData(), size_t(quotes[q].size()));
            ++needles;
        }
        std::string result;
        encodable_[q] = encoder.append(
            std::u16string_view(QStringView(rule.result(q)).utf16(), size_t(rule.result(q).size())),
            result);
        results_[q] = QByteArray(result.data(), qsizetype(result.size()));
    }
    none_ = needles == 0;
}

QStringView QuoteReplacer::apply(QStringView line, QString& scratch) const {
    if (rule_ == QuoteRule::None || FindAnyOf(line, family_) < 0)
        return line;
    scratch.resize(0);
    forEachPiece(line, [&scratch](QStringView piece) {
        scratch.append(piece);
        return true;
    });
    return scratch;
}

QString QuoteReplacer::apply(QStringView line) const {
    QString scratch;
    const QStringView result = apply(line, scratch);
    return result.data() == scratch.data() ? scratch : result.toString();
}

QString ApplyQuoteRule(QStringView line, QuoteRule rule, const QString& doubleText,
                       const QString& singleText) {
    return QuoteReplacer(rule, doubleText, singleText).apply(line);
}

std::ptrdiff_t FindAnyOf(QStringView text, const std::array<char16_t, 3>& characters) {
    const std::ptrdiff_t found = FindAnyOf3(text.utf16(), text.size(), characters);
    return found < text.size() ? found : -1;
}

} // namespace parvello
