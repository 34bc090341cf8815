// Start-up routines that need no window.
#include "base/addresses.h"
#include "base/failure.h"
#include "base/startup.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void appTitle_data();
    void appTitle();
    void fileExists();
    void desktopFolder();
    void programFolder_data();
    void programFolder();
};

void TestStartup::appTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::newRow("one word") << "Parvello"
                              << "Parvello";
    QTest::newRow("cut at least once") << "Parvello Quote Remover"
                                       << "Parvello Quote";
    QTest::newRow("cut until short enough")
        << "Parvello removes quotes from many text files at once today"
        << "Parvello removes quotes from many text";
    QTest::newRow("runs out of spaces") << "Parvelloparvelloparvelloparvelloparvelloparvello tool"
                                        << "Parvelloparvelloparvelloparvelloparvello";
    QTest::newRow("long single word")
        << QString(45, QLatin1Char('p')) << QString(40, QLatin1Char('p'));
}

void TestStartup::appTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(AppTitleFromName(name), title);
    QVERIFY(AppTitleFromName(name).size() <= 40);
}

void TestStartup::fileExists() {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("f")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(FileExists(file.fileName()));
    QVERIFY(FileExists(dir.path()));
    QVERIFY(!FileExists(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(!FileExists(QString()));
}

void TestStartup::desktopFolder() {
    FakePlatform platform;
    platform.desktop = QStringLiteral("C:\\Users\\ann\\Desktop");
    QCOMPARE(GetDesktopFolder(platform, PathStyle::Windows),
             QStringLiteral("C:\\Users\\ann\\Desktop\\"));
    platform.desktop = QStringLiteral("C:\\");
    QCOMPARE(GetDesktopFolder(platform, PathStyle::Windows), QStringLiteral("C:\\"));
    platform.desktop.clear();
    QVERIFY_THROWS_EXCEPTION(Failure, GetDesktopFolder(platform, PathStyle::Posix));
    QCOMPARE(GetSpecialFolderPath(platform, 5), QString());
}

// The program folder from the executable's folder, in a real tree: "bin" beside
// "share/parvello" as an install lays them out, with or without the data beside bin.
void TestStartup::programFolder_data() {
    QTest::addColumn<QStringList>("made");
    QTest::addColumn<QString>("relative");
    QTest::addColumn<QString>("expected");
    const QString installed = QStringLiteral("../share/parvello");
    QTest::newRow("build tree: examples beside the program")
        << QStringList{QStringLiteral("bin/Samples/"), QStringLiteral("share/parvello/")}
        << installed << "bin";
    QTest::newRow("build tree: the hand pointer beside the program")
        << QStringList{QStringLiteral("bin/HAND-M.CUR")} << installed << "bin";
    QTest::newRow("installed: the data folder")
        << QStringList{QStringLiteral("share/parvello/Samples/")} << installed << "share/parvello";
    QTest::newRow("no data anywhere") << QStringList{} << installed << "bin";
    QTest::newRow("a file where the data folder belongs")
        << QStringList{QStringLiteral("share/parvello")} << installed << "bin";
    QTest::newRow("no data folder named")
        << QStringList{QStringLiteral("share/parvello/")} << QString() << "bin";
}

void TestStartup::programFolder() {
    QFETCH(QStringList, made);
    QFETCH(QString, relative);
    QFETCH(QString, expected);
    QTemporaryDir dir;
    const QDir root(dir.path());
    QVERIFY(root.mkpath(QStringLiteral("bin")));
    for (const QString& path : made) {
        if (path.endsWith(QLatin1Char('/'))) {
            QVERIFY(root.mkpath(path));
        } else {
            QVERIFY(root.mkpath(QFileInfo(path).path()));
            QFile file(root.filePath(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
    QCOMPARE(ProgramFolderFor(root.filePath(QStringLiteral("bin")), relative),
             root.filePath(expected));
}

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
