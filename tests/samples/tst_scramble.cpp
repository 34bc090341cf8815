// The scrambled record of the example files.
#include "samples/scramble.h"
#include "textio/codepage.h"

#include <QtTest>

using namespace parvello;

class TestScramble : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data();
    void roundTrip();
    void knownValues();
    void everyCodeRoundTrips();
    void pumpsOncePerCharacter();
    void recordForms_data();
    void recordForms();
};

void TestScramble::roundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << "";
    QTest::newRow("shorter than the key") << "abc";
    QTest::newRow("longer than the key")
        << "/opt/parvello/Samples/a.txt|/opt/parvello/Samples/b.txt";
    QTest::newRow("passes 255") << QStringLiteral("\u00FF\u00FE\u00E9\u20AC~");
    QTest::newRow("windows path") << R"(C:\Program Files\Parvello\Samples\a.txt)";
}

void TestScramble::roundTrip() {
    QFETCH(QString, text);
    const auto page = CodePage::forName("windows-1252");
    const QString scrambled = ScrambleString(text, SampleKeyWord, *page);
    QCOMPARE(scrambled.size(), text.size());
    if (!text.isEmpty())
        QVERIFY(scrambled != text);
    QCOMPARE(UnscrambleString(scrambled, SampleKeyWord, *page), text);
}

void TestScramble::knownValues() {
    const auto page = CodePage::forName("windows-1252");
    // 'a' (97) + 'v' (118) = 215; 0xFF (255) + 'e' (101) = 356 - 255 = 101 'e'.
    QCOMPARE(ScrambleString(QStringLiteral("a\u00FF"), QStringLiteral("ve"), *page),
             QStringLiteral("\u00D7e"));
    // The key cycles: the third character uses the key's first letter again.
    QCOMPARE(ScrambleString(QStringLiteral("aaa"), QStringLiteral("ab"), *page),
             QString(QChar(194)) + QChar(195) + QChar(194));
}

void TestScramble::everyCodeRoundTrips() {
    const auto page = CodePage::forName("windows-1252");
    QString all;
    for (int code = 1; code <= 255; ++code)
        all.append(QChar(page->toUnicode(static_cast<unsigned char>(code))));
    QCOMPARE(UnscrambleString(ScrambleString(all, SampleKeyWord, *page), SampleKeyWord, *page),
             all);
}

void TestScramble::pumpsOncePerCharacter() {
    const auto page = CodePage::forName("windows-1252");
    int pumped = 0;
    ScrambleString(QStringLiteral("12345"), SampleKeyWord, *page, [&] { ++pumped; });
    QCOMPARE(pumped, 5);
}

void TestScramble::recordForms_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<bool>("plainForm");
    QTest::newRow("ascii") << QStringList{"/opt/p/Samples/a.txt", "/opt/p/Samples/b.txt"} << true;
    QTest::newRow("code page letters") << QStringList{"/home/Zo\u00EB/Samples/\u00E9.txt"} << true;
    QTest::newRow("outside the code page")
        << QStringList{"/home/\u0416\u4E2D/Samples/a.txt", "/home/\u0416\u4E2D/Samples/b.txt"}
        << false;
    QTest::newRow("no files") << QStringList{""} << true;
}

void TestScramble::recordForms() {
    QFETCH(QStringList, paths);
    QFETCH(bool, plainForm);
    const auto page = CodePage::forName("windows-1252");
    const QString stored = EncodeSampleRecord(paths, *page);
    if (plainForm)
        QCOMPARE(stored, ScrambleString(paths.join('|'), SampleKeyWord, *page));
    else
        QVERIFY(stored.startsWith(QChar(0xFFFD)));
    QCOMPARE(DecodeSampleRecord(stored, *page), paths);
}

QTEST_APPLESS_MAIN(TestScramble)
#include "tst_scramble.moc"
