// The per-user settings store over QSettings.
#include "base/failure.h"
#include "base/settingsstore.h"
#include "common/tempfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

class TestSettingsStore : public QObject {
    Q_OBJECT
private slots:
    void defaultsWhenMissing();
    void emptyValueIsNotMissing();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void writesReachTheFileAtOnce();
    void applicationAndSectionAreSeparate();
    void refusedWriteFails();
    void onlyARegularFileIsUsed_data();
    void onlyARegularFileIsUsed();
    void optionValues_data();
    void optionValues();
};

void TestSettingsStore::defaultsWhenMissing() {
    QTemporaryDir dir;
    UserSettingsStore store = UserSettingsStore::iniFolder(dir.path());
    QCOMPARE(store.get(QStringLiteral("Option1"), 1), QStringLiteral("1"));
    QCOMPARE(store.get(QStringLiteral("Option2"), 0), QStringLiteral("0"));
    QCOMPARE(store.get(QStringLiteral("Snapshot"), false), QStringLiteral("False"));
    QCOMPARE(store.get(QStringLiteral("Extension"), "*"), QStringLiteral("*"));
    // Reading writes nothing.
    QVERIFY(!QFile::exists(store.location(StoreApp)));
}

void TestSettingsStore::emptyValueIsNotMissing() {
    QTemporaryDir dir;
    UserSettingsStore store = UserSettingsStore::iniFolder(dir.path());
    store.save(QStringLiteral("Text1"), QString());
    QCOMPARE(store.get(QStringLiteral("Text1"), QStringLiteral("/home/u/Desktop/")), QString());
}

void TestSettingsStore::valuesRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("apostrophe") << QStringLiteral("'");
    QTest::newRow("double quote") << QStringLiteral("\"");
    QTest::newRow("curly quotes") << QStringLiteral("\u201C\u201D\u2018\u2019");
    QTest::newRow("commas") << QStringLiteral("a, b,c");
    QTest::newRow("windows path") << QStringLiteral("C:\\Users\\Ann\\Desktop\\");
    QTest::newRow("network path") << QStringLiteral("\\\\server\\share\\");
    QTest::newRow("at sign first") << QStringLiteral("@Variant(x)");
    QTest::newRow("spaces around") << QStringLiteral("  padded  ");
    QTest::newRow("semicolon and hash") << QStringLiteral("a;b#c");
    QTest::newRow("line break") << QStringLiteral("a\r\nb");
    QTest::newRow("non-latin") << QStringLiteral("\u0416\u4E2D\U0001F600");
    QTest::newRow("True") << QStringLiteral("True");
}

void TestSettingsStore::valuesRoundTrip() {
    QFETCH(QString, value);
    QTemporaryDir dir;
    UserSettingsStore store = UserSettingsStore::iniFolder(dir.path());
    store.save(QStringLiteral("Text2"), value);
    QCOMPARE(UserSettingsStore::iniFolder(dir.path()).get(QStringLiteral("Text2"), "x"), value);
}

void TestSettingsStore::writesReachTheFileAtOnce() {
    QTemporaryDir dir;
    UserSettingsStore store = UserSettingsStore::iniFolder(dir.path());
    store.save(QStringLiteral("Option3"), QStringLiteral("True"));
    QFile file(store.location(StoreApp));
    QCOMPARE(QFileInfo(file).fileName(), QStringLiteral("Kestrilon.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(content.contains("[Parvello]"));
    QVERIFY(content.contains("Option3=True"));
}

void TestSettingsStore::applicationAndSectionAreSeparate() {
    QTemporaryDir dir;
    UserSettingsStore store = UserSettingsStore::iniFolder(dir.path());
    store.SaveSetting(QStringLiteral("Other"), StoreSection, QStringLiteral("Text1"),
                      QStringLiteral("a"));
    store.SaveSetting(StoreApp, QStringLiteral("Elsewhere"), QStringLiteral("Text1"),
                      QStringLiteral("b"));
    QCOMPARE(store.get(QStringLiteral("Text1"), "default"), QStringLiteral("default"));
    QCOMPARE(store.GetSetting(QStringLiteral("Other"), StoreSection, QStringLiteral("Text1"), "d"),
             QStringLiteral("a"));
}

void TestSettingsStore::refusedWriteFails() {
    // A folder that cannot exist (its parent is a file) refuses writes even for root.
    QTemporaryDir dir;
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    UserSettingsStore store =
        UserSettingsStore::iniFolder(blocker.fileName() + QStringLiteral("/conf"));
    QVERIFY_THROWS_EXCEPTION(Failure, store.save(QStringLiteral("Text1"), QStringLiteral("x")));
    QCOMPARE(store.get(QStringLiteral("Text1"), "d"), QStringLiteral("d"));
}

// Only a regular file is read, never waited for; only the user's own is written via a link.
void TestSettingsStore::onlyARegularFileIsUsed_data() {
    QTest::addColumn<QString>("kind");
    for (const char* kind : {"pipe", "folder", "device link", "other's file link", "own file link"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

void TestSettingsStore::onlyARegularFileIsUsed() {
    QFETCH(QString, kind);
    TempFolder folder;
    UserSettingsStore store = UserSettingsStore::iniFolder(folder.root());
    const QString path = store.location(StoreApp);
    QString target = folder.write("target.ini", "[Parvello]\nText1=kept\n");
    if (kind.contains("device") && !MakeSpecial(target = folder.path("null"), S_IFCHR))
        target = QStringLiteral("/dev/null"); // no one but root may make the node
    if (kind.contains("other") && ::chown(QFile::encodeName(target), 65534, 0) != 0)
        QSKIP("only root may give a file to another user");
    QVERIFY(kind == "pipe"     ? MakeSpecial(path, S_IFIFO)
            : kind == "folder" ? QDir().mkpath(path)
                               : QFile::link(target, path));
    const mode_t types[] = {FileType(path), FileType(target)};
    std::atomic<bool> fired = false;
    const std::jthread freer = FreePipeLater(path, fired);
    QCOMPARE(store.get("Text1", "d"), kind.contains("file") ? "kept" : "d");
    if (kind.contains("own"))
        store.save("Text1", "new");
    else // refused, as any write the store cannot make
        QVERIFY_THROWS_EXCEPTION(Failure, store.save("Text1", "new"));
    QVERIFY(!fired);
    QVERIFY(FileType(path) == types[0] && FileType(target) == types[1]);
    QCOMPARE(ReadBytes(target).contains("Text1=new"), kind.contains("own"));
}

void TestSettingsStore::optionValues_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("expected"); // 1 true, 0 false, -1 fails
    QTest::newRow("True") << "True" << 1;
    QTest::newRow("False") << "False" << 0;
    QTest::newRow("lower case") << "true" << 1;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("minus one") << "-1" << 1;
    QTest::newRow("fraction") << "0.5" << 1;
    QTest::newRow("word") << "Yes" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestSettingsStore::optionValues() {
    QFETCH(QString, text);
    QFETCH(int, expected);
    if (expected < 0) {
        try {
            OptionValueFromText(text);
            QFAIL("accepted a text that is neither True, False nor a number");
        } catch (const Failure& failure) {
            QCOMPARE(failure.number(), failure_numbers::TypeMismatch);
        }
    } else {
        QCOMPARE(OptionValueFromText(text), expected == 1);
    }
}

QTEST_APPLESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
