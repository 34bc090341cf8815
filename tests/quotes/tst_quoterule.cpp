#include "quotes/quoterule.h"

#include "common/plaintest.h"

#include <iterator>
#include <random>

using namespace parvello;

namespace {

// The rule exactly as users are told it works: three replacements over the whole line, in
// the order straight, left, right, each on the output of the one before.
std::u16string reference(const std::u16string& line, QuoteRule rule, const std::u16string& t2,
                         const std::u16string& t3) {
    if (rule == QuoteRule::None)
        return line;
    const bool dbl = rule == QuoteRule::RemoveDouble || rule == QuoteRule::DoubleToSingle ||
                     rule == QuoteRule::DoubleToText;
    const auto& from = dbl ? DoubleQuotes : SingleQuotes;
    const auto& to = dbl ? SingleQuotes : DoubleQuotes;
    std::u16string result = line;
    for (size_t p = 0; p < 3; ++p) {
        std::u16string by;
        if (rule == QuoteRule::DoubleToSingle || rule == QuoteRule::SingleToDouble)
            by = std::u16string(1, to[p]);
        else if (rule == QuoteRule::DoubleToText)
            by = t2;
        else if (rule == QuoteRule::SingleToText)
            by = t3;
        std::u16string replaced;
        for (const char16_t unit : result) {
            if (unit == from[p])
                replaced += by;
            else
                replaced += unit;
        }
        result = std::move(replaced);
    }
    return result;
}

const std::u16string allSix = u"a\"b\u201Cc\u201Dd'e\u2018f\u2019g";
const std::u16string lookAlikes = u"\u201E\u201A\u00AB\u00BB`\u00B4\u2032\uFF02";

} // namespace

PLAIN_TEST_DATA(rules) {
    plaintest::addColumn<QuoteRule>("rule");
    plaintest::addColumn<std::u16string>("doubleText");
    plaintest::addColumn<std::u16string>("singleText");
    plaintest::addColumn<std::u16string>("line");
    plaintest::addColumn<std::u16string>("expected");
    const std::u16string q = u"'";
    const std::u16string d = u"\"";
    using S = std::u16string;
    plaintest::newRow("remove double keeps the single family")
        << QuoteRule::RemoveDouble << q << d << allSix << S(u"abcd'e\u2018f\u2019g");
    plaintest::newRow("remove single")
        << QuoteRule::RemoveSingle << q << d << allSix << S(u"a\"b\u201Cc\u201Ddefg");
    plaintest::newRow("double to single, position by position")
        << QuoteRule::DoubleToSingle << q << d << allSix << S(u"a'b\u2018c\u2019d'e\u2018f\u2019g");
    plaintest::newRow("single to double") << QuoteRule::SingleToDouble << q << d << allSix
                                          << S(u"a\"b\u201Cc\u201Dd\"e\u201Cf\u201Dg");
    plaintest::newRow("empty double text deletes")
        << QuoteRule::DoubleToText << S() << d << allSix << S(u"abcd'e\u2018f\u2019g");
    plaintest::newRow("text of one right quote")
        << QuoteRule::DoubleToText << S(u"\u201D") << d << S(u"\"\u201C\u201D")
        << S(u"\u201D\u201D\u201D");
    // An inserted right quote is replaced again by the third replacement.
    plaintest::newRow("x and right quote is rescanned by later replacements")
        << QuoteRule::DoubleToText << S(u"x\u201D") << d << S(u"1\"2\u201C3\u201D4")
        << S(u"1xx\u201D2xx\u201D3x\u201D4");
    plaintest::newRow("two apostrophes are not rescanned by their own replacement")
        << QuoteRule::SingleToText << q << S(u"''") << S(u"'\u2018\u2019") << S(u"''''''");
    plaintest::newRow("look-alikes survive")
        << QuoteRule::RemoveDouble << q << d << lookAlikes << lookAlikes;
    plaintest::newRow("no rule: unchanged") << QuoteRule::None << q << d << allSix << allSix;
    plaintest::newRow("empty line") << QuoteRule::SingleToText << q << S(u"xyz") << S() << S();
    plaintest::newRow("surrogate pairs pass")
        << QuoteRule::RemoveDouble << q << d << S(u"\U0001F600\"\U0001F600")
        << S(u"\U0001F600\U0001F600");
}

PLAIN_TEST(rules) {
    FETCH(QuoteRule, rule);
    FETCH(std::u16string, doubleText);
    FETCH(std::u16string, singleText);
    FETCH(std::u16string, line);
    FETCH(std::u16string, expected);
    COMPARE(ApplyQuoteRule(line, rule, doubleText, singleText), expected);
    COMPARE(reference(line, rule, doubleText, singleText), expected);
}

PLAIN_TEST(convertingTwiceLeavesOnlyDoubles) {
    const std::u16string once = ApplyQuoteRule(allSix, QuoteRule::DoubleToSingle, {}, {});
    COMPARE(ApplyQuoteRule(once, QuoteRule::SingleToDouble, {}, {}),
            std::u16string(u"a\"b\u201Cc\u201Dd\"e\u201Cf\u201Dg"));
}

// Random lines (longer than one SIMD block, quotes anywhere) and replacement texts full of
// quotes: the one-pass rule must agree with the three replacements.
PLAIN_TEST(agreesWithThreeReplacements) {
    std::mt19937 random(20210831);
    const char16_t alphabet[] = {u'a', u' ', u'"', u'\'', 0x201C, 0x201D, 0x2018, 0x2019, 0x201E};
    const auto bounded = [&random](int below) {
        return int(std::uniform_int_distribution<int>(0, below - 1)(random));
    };
    const auto randomText = [&](int maxLength) {
        std::u16string text;
        const int n = bounded(maxLength + 1);
        for (int i = 0; i < n; ++i)
            text += alphabet[bounded(int(std::size(alphabet)))];
        return text;
    };
    const QuoteRule rules[] = {QuoteRule::RemoveDouble,   QuoteRule::RemoveSingle,
                               QuoteRule::DoubleToSingle, QuoteRule::SingleToDouble,
                               QuoteRule::DoubleToText,   QuoteRule::SingleToText};
    for (int round = 0; round < 2000; ++round) {
        const QuoteRule rule = rules[round % 6];
        const std::u16string t2 = randomText(3), t3 = randomText(3), line = randomText(40);
        COMPARE(ApplyQuoteRule(line, rule, t2, t3), reference(line, rule, t2, t3));
    }
}

PLAIN_TEST(unchangedLineIsHandedBackWithoutCopy) {
    const QuoteReplacer replacer(QuoteRule::RemoveDouble, {}, {});
    const std::u16string line = u"no double quotes here, 'only' singles";
    std::u16string scratch;
    COMPARE(replacer.apply(line, scratch).data(), line.data());
}

PLAIN_TEST(firstSelectedRuleWins) {
    COMPARE(FirstSelectedRule({false, false, false, false, false, false}), QuoteRule::None);
    COMPARE(FirstSelectedRule({false, true, false, true, false, true}), QuoteRule::RemoveSingle);
    COMPARE(FirstSelectedRule({false, false, false, false, false, true}), QuoteRule::SingleToText);
    COMPARE(FirstSelectedRule({true, true, true, true, true, true}), QuoteRule::RemoveDouble);
}
