// Output paths of a run, in both separator styles, and the texts a run shows.
#include "quotes/outputpath.h"
#include "app/runtexts.h"

#include <QtTest>

using namespace parvello;

Q_DECLARE_METATYPE(parvello::PathStyle)
Q_DECLARE_METATYPE(parvello::SaveChoice)

class TestOutputPath : public QObject {
    Q_OBJECT
private slots:
    void paths_data();
    void paths();
    void runTexts();
};

void TestOutputPath::paths_data() {
    QTest::addColumn<PathStyle>("style");
    QTest::addColumn<SaveChoice>("choice");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("output");
    const auto W = PathStyle::Windows;
    const auto P = PathStyle::Posix;
    const auto F = SaveChoice::ToFolder;
    const auto B = SaveChoice::BesideOriginal;
    const auto N = SaveChoice::Neither;
    QTest::newRow("folder with separator") << W << F << R"(C:\in\a.txt)"
                                           << R"(D:\out\)"
                                           << R"(D:\out\a.txt)";
    QTest::newRow("folder without separator") << W << F << R"(C:\in\a.txt)"
                                              << R"(D:\out)"
                                              << R"(D:\out\a.txt)";
    QTest::newRow("drive root") << W << F << R"(C:\in\a.txt)"
                                << R"(D:\)"
                                << R"(D:\a.txt)";
    QTest::newRow("network output folder") << W << F << R"(C:\in\a.txt)"
                                           << R"(\\srv\share\out\)"
                                           << R"(\\srv\share\out\a.txt)";
    QTest::newRow("network source in place") << W << B << R"(\\srv\share\in\a.txt)"
                                             << R"(D:\ignored)"
                                             << R"(\\srv\share\in\a.txt)";
    QTest::newRow("in place") << W << B << R"(C:\in\a.txt)"
                              << ""
                              << R"(C:\in\a.txt)";
    QTest::newRow("neither goes to the folder") << W << N << R"(C:\in\a.txt)"
                                                << R"(D:\out)"
                                                << R"(D:\out\a.txt)";
    QTest::newRow("posix folder") << P << F << "/home/a/in/b.txt"
                                  << "/tmp/out/"
                                  << "/tmp/out/b.txt";
    QTest::newRow("posix folder bare") << P << F << "/home/a/in/b.txt"
                                       << "/tmp/out"
                                       << "/tmp/out/b.txt";
    QTest::newRow("posix root") << P << F << "/home/a/in/b.txt"
                                << "/"
                                << "/b.txt";
    QTest::newRow("posix in place") << P << B << "/home/a/in/b.txt"
                                    << "/x"
                                    << "/home/a/in/b.txt";
    QTest::newRow("posix file name with backslash") << P << F << "/in/a\\b.txt"
                                                    << "/o"
                                                    << "/o/a\\b.txt";
}

void TestOutputPath::paths() {
    QFETCH(PathStyle, style);
    QFETCH(SaveChoice, choice);
    QFETCH(QString, source);
    QFETCH(QString, folder);
    QFETCH(QString, output);
    QCOMPARE(OutputPathFor(source, choice, folder, style), output);
}

// The bar names the file alone, with a '%' kept as itself; the summary names ten files and
// counts the rest.
void TestOutputPath::runTexts() {
    QCOMPARE(ProgressText(QStringLiteral("/in/100% done.txt")),
             QStringLiteral("Processing: 100%% done.txt"));
    QList<Untouched> files;
    for (int i = 0; i < 12; ++i)
        files.append({QStringLiteral("/f%1").arg(i), QStringLiteral("why")});
    QCOMPARE(UntouchedSummary(files.mid(0, 1)),
             QStringLiteral("1 file was left untouched:\r\n/f0: why"));
    const QStringList lines = UntouchedSummary(files).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 12);
    QCOMPARE(lines.first(), QStringLiteral("12 files were left untouched:"));
    QCOMPARE(lines[10], QStringLiteral("/f9: why"));
    QCOMPARE(lines.last(), QStringLiteral("... and 2 more."));
}

QTEST_APPLESS_MAIN(TestOutputPath)
#include "tst_outputpath.moc"
