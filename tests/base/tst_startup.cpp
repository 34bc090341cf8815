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

QTEST_APPLESS_MAIN(TestStartup)
#include "tst_startup.moc"
