// The six quote rules and the line transformation they share.
#pragma once

#include "textio/textencoder.h"
#include "textio/textscan.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace parvello {

// The selected rule: one member per option button of the "Remove Options" frame, and None
// when no button is selected.
enum class QuoteRule {
    None,
    RemoveDouble,   // Option1 "Remove all double quotes"
    RemoveSingle,   // Option2 "Remove all single quotes"
    DoubleToSingle, // Option3 "Replace double quotes with single quotes"
    SingleToDouble, // Option4 "Replace single quotes with double quotes"
    DoubleToText,   // Option5 "Replace double quotes with this" (the double-quote text)
    SingleToText,   // Option6 "Replace single quotes with this" (the single-quote text)
};

// The two families, each in the order straight, left, right. A converting rule maps each
// character to the one at the same position in the other family.
inline constexpr std::array<char16_t, 3> DoubleQuotes = {u'"', u'\u201C', u'\u201D'};
inline constexpr std::array<char16_t, 3> SingleQuotes = {u'\'', u'\u2018', u'\u2019'};

// The first selected of the six option buttons, in the order Option1 .. Option6; None when
// none is selected.
QuoteRule FirstSelectedRule(const std::array<bool, 6>& selected);

// A rule made ready for many lines. A rule runs three replacements on the whole line, one
// per position of its family (straight, then left, then right), each on the output of the
// one before and without rescanning what it has just inserted. Each replacement maps one
// character to a text, so the three together map each quote of the family to a fixed text:
// the straight quote to the replacement with the later two replacements applied to it, and
// so on. Those three texts are worked out once here; a line is then transformed in a single
// pass with the same result.
class QuoteReplacer {
public:
    QuoteReplacer(QuoteRule rule, std::u16string_view doubleText, std::u16string_view singleText);

    QuoteRule rule() const { return rule_; }

    // The transformed line. A line without a quote of the rule's family is handed back as
    // it is (no copy); otherwise the result is built in scratch and a view of it returned.
    std::u16string_view apply(std::u16string_view line, std::u16string& scratch) const;
    std::u16string apply(std::u16string_view line) const;

    // Hands the transformed line to hand as consecutive pieces, views into the line and into
    // the replacement texts (empty pieces left out), and stops with false as soon as hand
    // returns false. Joined, the pieces are what apply() returns. This is the pass apply()
    // itself makes, without gathering the pieces into one text. With changed, each quote
    // that becomes something else than itself adds one to it as it is met.
    template <class Emit>
    bool forEachPiece(std::u16string_view line, Emit&& hand, std::int64_t* changed = nullptr) const;

    // False when a replacement text holds a surrogate: only in the joined line could it
    // pair with a unit of the line, so such pieces must not be encoded one by one.
    bool piecesStandAlone() const { return piecesStandAlone_; }

    // The quotes of the rule's family, and what each finally becomes.
    const std::array<char16_t, 3>& family() const { return family_; }
    const std::u16string& result(size_t position) const { return results_[position]; }
    // Whether the quote at position becomes something else than itself: only such quotes
    // count as changed.
    bool changes(size_t position) const { return changes_[position]; }

private:
    QuoteRule rule_;
    std::array<char16_t, 3> family_{};
    std::array<std::u16string, 3> results_; // what each quote of the family finally becomes
    std::array<bool, 3> changes_{};
    bool piecesStandAlone_ = true;
};

template <class Emit>
bool QuoteReplacer::forEachPiece(std::u16string_view line, Emit&& hand,
                                 std::int64_t* changed) const {
    if (rule_ == QuoteRule::None)
        return line.empty() || hand(line);
    const char16_t* const units = line.data();
    const std::ptrdiff_t n = std::ptrdiff_t(line.size());
    std::ptrdiff_t from = 0;
    for (;;) {
        const std::ptrdiff_t found = from + FindAnyOf3(units + from, n - from, family_);
        if (found >= n)
            break;
        if (found > from && !hand(line.substr(size_t(from), size_t(found - from))))
            return false;
        const char16_t quote = units[found];
        const size_t q = quote == family_[0] ? 0 : quote == family_[1] ? 1 : 2;
        if (changed)
            *changed += changes_[q];
        const std::u16string& result = results_[q];
        if (!result.empty() && !hand(std::u16string_view(result)))
            return false;
        from = found + 1;
    }
    return from >= n || hand(line.substr(size_t(from)));
}

// The same rule on a line left undecoded, in UTF-8 or in an ASCII-compatible code page,
// for an output in that same encoding: a quote of the family is found by its bytes and
// replaced by the bytes of what it becomes, and everything else is handed on as it is. The
// pieces are exactly the encoding of what QuoteReplacer::forEachPiece hands on for the
// decoded line. Only for a rule whose pieces stand alone.
class ByteQuoteReplacer {
public:
    ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding);

    // Hands the transformed line on as pieces: bytes in the output's encoding to
    // handBytes, and a replacement that the encoding cannot hold as text to handText
    // (whose sink then refuses it). Stops with false as soon as either returns false. With
    // changed, each quote that becomes something else than itself adds one to it.
    template <class EmitBytes, class EmitText>
    bool forEachPiece(std::string_view line, EmitBytes&& handBytes, EmitText&& handText,
                      std::int64_t* changed = nullptr) const;

    // For a caller that looks for the quotes itself among other bytes: whether the rule
    // finds nothing, the last byte of each quote (repeated to fill three), and which quote
    // (0..2) ends at bytes[last] and begins at or after from, or -1.
    bool findsNothing() const { return none_; }
    const std::array<char, 3>& lastBytes() const { return lastBytes_; }
    int quoteEndingAt(const char* bytes, std::ptrdiff_t from, std::ptrdiff_t last) const {
        for (size_t q = 0; q < 3; ++q) {
            const Quote& quote = quotes_[q];
            const std::ptrdiff_t start = last - quote.length + 1;
            if (quote.length > 0 && start >= from && bytes[last] == quote.bytes[quote.length - 1] &&
                (quote.length == 1 || (bytes[start] == quote.bytes[0] &&
                                       (quote.length == 2 || bytes[start + 1] == quote.bytes[1]))))
                return int(q);
        }
        return -1;
    }
    std::ptrdiff_t quoteLength(int q) const { return quotes_[size_t(q)].length; }
    // The bytes of quote q in the encoding (empty when the encoding has none for it).
    std::string_view quoteBytes(int q) const {
        return {quotes_[size_t(q)].bytes, size_t(quotes_[size_t(q)].length)};
    }
    // What quote q becomes: in the output's bytes when the encoding holds it, else as text.
    bool resultEncodable(int q) const { return encodable_[size_t(q)]; }
    std::string_view resultBytes(int q) const { return results_[size_t(q)]; }
    std::u16string_view resultText(int q) const { return rule_.result(size_t(q)); }
    bool changes(int q) const { return rule_.changes(size_t(q)); }

private:
    struct Quote {
        char bytes[3] = {};        // every quote is one byte in a code page, three in UTF-8
        std::ptrdiff_t length = 0; // 0: the encoding has no bytes for this quote
    };
    ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding,
                      const std::array<std::string, 3>& quotes);

    const QuoteReplacer& rule_;
    bool none_ = true; // nothing to find: every line passes whole
    std::array<char, 3> lastBytes_;
    ByteHits search_; // for the last byte of each quote
    std::array<Quote, 3> quotes_{};
    std::array<std::string, 3> results_;
    std::array<bool, 3> encodable_{};
};

template <class EmitBytes, class EmitText>
bool ByteQuoteReplacer::forEachPiece(std::string_view line, EmitBytes&& handBytes,
                                     EmitText&& handText, std::int64_t* changed) const {
    if (none_)
        return line.empty() || handBytes(line);
    const char* const bytes = line.data();
    const std::ptrdiff_t n = std::ptrdiff_t(line.size());
    ByteHits hits(search_, bytes, n);
    std::ptrdiff_t from = 0;
    std::ptrdiff_t at = 0;
    for (;;) {
        // A quote is looked for by its last byte, which in UTF-8 is the rarer one (the
        // first, E2, begins every quote of both families and many other characters).
        const std::ptrdiff_t last = hits.next(at);
        if (last >= n)
            break;
        const int found = quoteEndingAt(bytes, from, last);
        at = last + 1;
        if (found < 0) // the last byte of some other character
            continue;
        const size_t q = size_t(found);
        if (changed)
            *changed += rule_.changes(q);
        const std::ptrdiff_t start = last - quotes_[q].length + 1;
        if (start > from && !handBytes(line.substr(size_t(from), size_t(start - from))))
            return false;
        if (encodable_[q]) {
            if (!results_[q].empty() && !handBytes(std::string_view(results_[q])))
                return false;
        } else if (!handText(std::u16string_view(rule_.result(q)))) {
            return false;
        }
        from = at;
    }
    return from >= n || handBytes(line.substr(size_t(from)));
}

// One line through the selected rule: doubleText is the replacement of "Replace double
// quotes with this", singleText that of "Replace single quotes with this". Texts are used
// exactly as they stand, empty ones included. No rule: the line comes back unchanged.
std::u16string ApplyQuoteRule(std::u16string_view line, QuoteRule rule,
                              std::u16string_view doubleText, std::u16string_view singleText);

// Where the first of three characters occurs in text, or -1.
std::ptrdiff_t FindAnyOf(std::u16string_view text, const std::array<char16_t, 3>& characters);

} // namespace parvello
