#include "quotes/quoterule.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace parvello;

namespace {

// The rule exactly as users are told it works: three replacements over the whole line, in
// the order straight, left, right, each on the output of the one before.
QString reference(const QString& line, QuoteRule rule, const QString& t2, const QString& t3) {
    if (rule == QuoteRule::None)
        return line;
    const bool dbl = rule == QuoteRule::RemoveDouble || rule == QuoteRule::DoubleToSingle ||
                     rule == QuoteRule::DoubleToText;
    const auto& from = dbl ? DoubleQuotes : SingleQuotes;
    const auto& to = dbl ? SingleQuotes : DoubleQuotes;
    QString result = line;
    for (size_t p = 0; p < 3; ++p) {
        QString by;
        if (rule == QuoteRule::DoubleToSingle || rule == QuoteRule::SingleToDouble)
            by = QChar(to[p]);
        else if (rule == QuoteRule::DoubleToText)
            by = t2;
        else if (rule == QuoteRule::SingleToText)
            by = t3;
        result.replace(QChar(from[p]), by);
    }
    return result;
}

// The rule on the window's texts.
QString ApplyQuoteRule(const QString& line, QuoteRule rule, const QString& t2, const QString& t3) {
    return QString::fromStdU16String(parvello::ApplyQuoteRule(
        line.toStdU16String(), rule, t2.toStdU16String(), t3.toStdU16String()));
}

const QString allSix = QStringLiteral("a\"b\u201Cc\u201Dd'e\u2018f\u2019g");
const QString lookAlikes = QStringLiteral("\u201E\u201A\u00AB\u00BB`\u00B4\u2032\uFF02");

} // namespace

class TestQuoteRule : public QObject {
    Q_OBJECT

private slots:
    void rules_data() {
        QTest::addColumn<QuoteRule>("rule");
        QTest::addColumn<QString>("doubleText");
        QTest::addColumn<QString>("singleText");
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected");
        const QString q = QStringLiteral("'");
        const QString d = QStringLiteral("\"");
        QTest::newRow("remove double keeps the single family")
            << QuoteRule::RemoveDouble << q << d << allSix
            << QStringLiteral("abcd'e\u2018f\u2019g");
        QTest::newRow("remove single") << QuoteRule::RemoveSingle << q << d << allSix
                                       << QStringLiteral("a\"b\u201Cc\u201Ddefg");
        QTest::newRow("double to single, position by position")
            << QuoteRule::DoubleToSingle << q << d << allSix
            << QStringLiteral("a'b\u2018c\u2019d'e\u2018f\u2019g");
        QTest::newRow("single to double") << QuoteRule::SingleToDouble << q << d << allSix
                                          << QStringLiteral("a\"b\u201Cc\u201Dd\"e\u201Cf\u201Dg");
        QTest::newRow("empty double text deletes")
            << QuoteRule::DoubleToText << QString() << d << allSix
            << QStringLiteral("abcd'e\u2018f\u2019g");
        QTest::newRow("text of one right quote")
            << QuoteRule::DoubleToText << QStringLiteral("\u201D") << d
            << QStringLiteral("\"\u201C\u201D") << QStringLiteral("\u201D\u201D\u201D");
        // An inserted right quote is replaced again by the third replacement.
        QTest::newRow("x and right quote is rescanned by later replacements")
            << QuoteRule::DoubleToText << QStringLiteral("x\u201D") << d
            << QStringLiteral("1\"2\u201C3\u201D4")
            << QStringLiteral("1xx\u201D2xx\u201D3x\u201D4");
        QTest::newRow("two apostrophes are not rescanned by their own replacement")
            << QuoteRule::SingleToText << q << QStringLiteral("''")
            << QStringLiteral("'\u2018\u2019") << QStringLiteral("''''''");
        QTest::newRow("look-alikes survive")
            << QuoteRule::RemoveDouble << q << d << lookAlikes << lookAlikes;
        QTest::newRow("no rule: unchanged") << QuoteRule::None << q << d << allSix << allSix;
        QTest::newRow("empty line")
            << QuoteRule::SingleToText << q << QStringLiteral("xyz") << QString() << QString();
        QTest::newRow("surrogate pairs pass")
            << QuoteRule::RemoveDouble << q << d << QStringLiteral("\U0001F600\"\U0001F600")
            << QStringLiteral("\U0001F600\U0001F600");
    }
    void rules() {
        QFETCH(QuoteRule, rule);
        QFETCH(QString, doubleText);
        QFETCH(QString, singleText);
        QFETCH(QString, line);
        QFETCH(QString, expected);
        QCOMPARE(ApplyQuoteRule(line, rule, doubleText, singleText), expected);
        QCOMPARE(reference(line, rule, doubleText, singleText), expected);
    }

    void convertingTwiceLeavesOnlyDoubles() {
        const QString once = ApplyQuoteRule(allSix, QuoteRule::DoubleToSingle, {}, {});
        QCOMPARE(ApplyQuoteRule(once, QuoteRule::SingleToDouble, {}, {}),
                 QStringLiteral("a\"b\u201Cc\u201Dd\"e\u201Cf\u201Dg"));
    }

    // Random lines (longer than one SIMD block, quotes anywhere) and replacement texts
    // full of quotes: the one-pass rule must agree with the three replacements.
    void agreesWithThreeReplacements() {
        QRandomGenerator random(20210831);
        const char16_t alphabet[] = {u'a',   u' ',   u'"',   u'\'', 0x201C,
                                     0x201D, 0x2018, 0x2019, 0x201E};
        const auto randomText = [&](int maxLength) {
            QString text;
            const int n = int(random.bounded(maxLength + 1));
            for (int i = 0; i < n; ++i)
                text += QChar(alphabet[random.bounded(int(std::size(alphabet)))]);
            return text;
        };
        const QuoteRule rules[] = {QuoteRule::RemoveDouble,   QuoteRule::RemoveSingle,
                                   QuoteRule::DoubleToSingle, QuoteRule::SingleToDouble,
                                   QuoteRule::DoubleToText,   QuoteRule::SingleToText};
        for (int round = 0; round < 2000; ++round) {
            const QuoteRule rule = rules[round % 6];
            const QString t2 = randomText(3), t3 = randomText(3), line = randomText(40);
            QCOMPARE(ApplyQuoteRule(line, rule, t2, t3), reference(line, rule, t2, t3));
        }
    }

    void unchangedLineIsHandedBackWithoutCopy() {
        const QuoteReplacer replacer(QuoteRule::RemoveDouble, {}, {});
        const std::u16string line = u"no double quotes here, 'only' singles";
        std::u16string scratch;
        QCOMPARE(replacer.apply(line, scratch).data(), line.data());
    }

    void firstSelectedRuleWins() {
        QCOMPARE(FirstSelectedRule({false, false, false, false, false, false}), QuoteRule::None);
        QCOMPARE(FirstSelectedRule({false, true, false, true, false, true}),
                 QuoteRule::RemoveSingle);
        QCOMPARE(FirstSelectedRule({false, false, false, false, false, true}),
                 QuoteRule::SingleToText);
        QCOMPARE(FirstSelectedRule({true, true, true, true, true, true}), QuoteRule::RemoveDouble);
    }
};

QTEST_GUILESS_MAIN(TestQuoteRule)
#include "tst_quoterule.moc"
