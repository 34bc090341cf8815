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
        for (const QChar unit : text)
            if (unit.isSurrogate())
                piecesStandAlone_ = false;
    }
}

ByteQuoteReplacer::ByteQuoteReplacer(const QuoteReplacer& rule, OutputEncoding encoding)
    : rule_(rule) {
    if (rule.rule() == QuoteRule::None)
        return;
    const TextEncoder encoder(encoding);
    size_t needles = 0;
    for (size_t q = 0; q < 3; ++q) {
        QByteArray quote;
        if (encoder.append(QStringView(&rule.family()[q], 1), quote) && quote.size() <= 3) {
            quotes_[q].length = quote.size();
            std::memcpy(quotes_[q].bytes, quote.constData(), size_t(quote.size()));
            firstBytes_[needles++] = quote[0];
        }
        encodable_[q] = encoder.append(rule.result(q), results_[q]);
    }
    none_ = needles == 0;
    for (size_t k = needles; k > 0 && k < 3; ++k)
        firstBytes_[k] = firstBytes_[0];
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

qsizetype FindAnyOf(QStringView text, const std::array<char16_t, 3>& characters) {
    const qsizetype found = FindAnyOf3(text.utf16(), text.size(), characters);
    return found < text.size() ? found : -1;
}

} // namespace parvello
