#include "quotes/quoterule.h"

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
        QString text(QChar(family_[q]));
        for (size_t p = 0; p < 3; ++p)
            text.replace(QChar(family_[p]), replacement[p]);
        results_[q] = text;
    }
}

QStringView QuoteReplacer::apply(QStringView line, QString& scratch) const {
    if (rule_ == QuoteRule::None)
        return line;
    qsizetype found = FindAnyOf(line, family_);
    if (found < 0)
        return line;
    scratch.resize(0);
    qsizetype from = 0;
    while (found >= 0) {
        scratch.append(line.sliced(from, found - from));
        const char16_t quote = line[found].unicode();
        scratch.append(results_[quote == family_[0] ? 0 : quote == family_[1] ? 1 : 2]);
        from = found + 1;
        const qsizetype next = FindAnyOf(line.sliced(from), family_);
        found = next < 0 ? -1 : from + next;
    }
    scratch.append(line.sliced(from));
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

qsizetype FindAnyOf(QStringView text, const std::array<char16_t, 3>& characters) {
    const char16_t* const units = text.utf16();
    const qsizetype n = text.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i a = _mm_set1_epi16(static_cast<short>(characters[0]));
    const __m128i b = _mm_set1_epi16(static_cast<short>(characters[1]));
    const __m128i c = _mm_set1_epi16(static_cast<short>(characters[2]));
    const auto hits = [&](qsizetype at) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + at));
        return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)),
                            _mm_cmpeq_epi16(v, c));
    };
    // Sixteen units per turn while the line is long enough, then eight.
    for (; i + 16 <= n; i += 16) {
        const __m128i first = hits(i);
        const __m128i second = hits(i + 8);
        if (_mm_movemask_epi8(_mm_or_si128(first, second))) {
            const unsigned mask =
                unsigned(_mm_movemask_epi8(first)) | unsigned(_mm_movemask_epi8(second)) << 16;
            return i + std::countr_zero(mask) / 2;
        }
    }
    for (; i + 8 <= n; i += 8)
        if (const int mask = _mm_movemask_epi8(hits(i)))
            return i + std::countr_zero(unsigned(mask)) / 2;
#endif
    for (; i < n; ++i)
        if (units[i] == characters[0] || units[i] == characters[1] || units[i] == characters[2])
            return i;
    return -1;
}

} // namespace parvello
