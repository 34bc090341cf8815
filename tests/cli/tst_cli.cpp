#include "common/listorder.h"
#include "common/tempfiles.h"
#include "quotes/unreadsources.h"

#include <QProcess>
#include <QtTest>

#include <cstdio>

#include <unistd.h>

using namespace parvello::testing;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run cli(const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PARVELLO_CLI), args);
    process.waitForFinished(60000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void usageErrors_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("nothing") << QStringList{} << "--rule is required";
        QTest::newRow("unknown rule")
            << QStringList{"--rule", "remove-all", "--in-place", "f"} << "unknown rule";
        QTest::newRow("no destination")
            << QStringList{"--rule", "remove-double", "f"} << "exactly one of";
        QTest::newRow("both destinations")
            << QStringList{"--rule", "remove-double", "--in-place", "--out", ".", "f"}
            << "exactly one of";
        QTest::newRow("missing folder")
            << QStringList{"--rule", "remove-double", "--out", "/no/such/folder", "f"}
            << "Folder does not exist";
        QTest::newRow("value missing")
            << QStringList{"--in-place", "f", "--rule"} << "--rule needs a value";
        QTest::newRow("unknown option")
            << QStringList{"--rule", "remove-double", "--in-place", "--fast", "f"}
            << "unknown option --fast";
        QTest::newRow("no files") << QStringList{"--rule", "remove-double", "--in-place"}
                                  << "no files";
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const Run run = cli(args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    void help() {
        const Run run = cli({"--help"});
        QCOMPARE(run.status, 0);
        for (const char* word :
             {"remove-double", "single-to-text", "--in-place", "--out", "Exit status"})
            QVERIFY(run.out.contains(QLatin1String(word)));
    }

    // Each rule name, with the default replacement texts and with given ones.
    void rules_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("remove-double")
            << QStringList{"--rule", "remove-double"} << QByteArray("a 'b' c\r\n");
        QTest::newRow("remove-single")
            << QStringList{"--rule", "remove-single"} << QByteArray("\"a\" b c\r\n");
        QTest::newRow("double-to-single")
            << QStringList{"--rule=double-to-single"} << QByteArray("'a' 'b' c\r\n");
        QTest::newRow("single-to-double")
            << QStringList{"--rule", "single-to-double"} << QByteArray("\"a\" \"b\" c\r\n");
        QTest::newRow("double-to-text default")
            << QStringList{"--rule", "double-to-text"} << QByteArray("'a' 'b' c\r\n");
        QTest::newRow("single-to-text default")
            << QStringList{"--rule", "single-to-text"} << QByteArray("\"a\" \"b\" c\r\n");
        QTest::newRow("double-to-text given")
            << QStringList{"--rule", "double-to-text", "--double-text", "<<"}
            << QByteArray("<<a<< 'b' c\r\n");
        QTest::newRow("single-to-text empty")
            << QStringList{"--rule", "single-to-text", "--single-text="}
            << QByteArray("\"a\" b c\r\n");
    }
    void rules() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, expected);
        TempFolder folder;
        const QString path = folder.write("f.txt", "\"a\" 'b' c");
        const Run run = cli(args << "--in-place" << path);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QString());
        QCOMPARE(ReadBytes(path), expected);
    }

    // With --out the results keep their names; two sources of one name: the later remains,
    // also when files are processed side by side.
    void outFolder() {
        TempFolder in, out;
        QVERIFY(QDir(in.root()).mkdir("sub"));
        QStringList args = {"--rule", "remove-double", "--jobs", "4", "--out", out.root()};
        for (int i = 0; i < 20; ++i)
            args << in.write(QStringLiteral("f%1.txt").arg(i), "\"x\"");
        args << in.write("sub/f3.txt", "\"later\"");
        const Run run = cli(args);
        QCOMPARE(run.status, 0);
        QCOMPARE(out.entries().size(), 20);
        QCOMPARE(ReadBytes(out.path("f0.txt")), QByteArray("x\r\n"));
        QCOMPARE(ReadBytes(out.path("f3.txt")), QByteArray("later\r\n"));
        QCOMPARE(ReadBytes(in.path("f0.txt")), QByteArray("\"x\""));
    }

    void untouchedFilesAreNamed() {
        TempFolder folder;
        const QString good = folder.write("good.txt", "\"a\"");
        const QString binary = folder.write("binary.dat", QByteArray("\"\0\"", 3));
        const Run run =
            cli({"--rule", "remove-double", "--in-place", good, binary, folder.path("gone.txt")});
        QCOMPARE(run.status, 1);
        const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
        QVERIFY(lines.contains("parvello-cli: left untouched: " + binary +
                               ": it holds a NUL byte, so it is not a text file"));
        QVERIFY(lines.contains("parvello-cli: left untouched: " + folder.path("gone.txt") +
                               ": it could not be read"));
        QVERIFY(lines.contains("parvello-cli: error: File not found: " + folder.path("gone.txt") +
                               " in Qwellan2021/08/31.RFTSFSO.ReadFileToStringLine at line 100"));
        QCOMPARE(lines.size(), 6); // four failures of the missing file, two untouched files
        QCOMPARE(ReadBytes(good), QByteArray("a\r\n"));
    }

    // A name whose bytes are not valid UTF-8 is never turned into another name: the file of
    // that name and the file named with U+FFFD are both left as they are.
    void nameNotHeldExactly() {
        TempFolder folder;
        const QString replacement = folder.write(QStringLiteral("caf\uFFFD.txt"), "\"fffd\"");
        const QByteArray raw = QFile::encodeName(folder.root()) + "/caf\xE9.txt";
        FILE* file = std::fopen(raw.constData(), "wb");
        QVERIFY(file);
        std::fputs("\"e9\"", file);
        std::fclose(file);
        // QProcess would hand the name on as text; the shell passes its bytes.
        QProcess process;
        process.start("/bin/sh", {"-c",
                                  "exec \"$0\" --rule remove-double --in-place \"$1/$(printf "
                                  "'caf\\351.txt')\"",
                                  PARVELLO_CLI, folder.root()});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
                 "parvello-cli: left untouched: " + folder.root() +
                     "/caf\\xE9.txt: its name cannot be held exactly, so it could name another "
                     "file\n");
        QCOMPARE(ReadBytes(replacement), QByteArray("\"fffd\""));
        file = std::fopen(raw.constData(), "rb");
        QVERIFY(file);
        char bytes[16] = {};
        QCOMPARE(std::fread(bytes, 1, sizeof bytes, file), size_t(4));
        std::fclose(file);
        QCOMPARE(QByteArray(bytes), QByteArray("\"e9\""));
        QVERIFY(::unlink(raw.constData()) == 0);
    }

    // A read-only file is never replaced; one that already holds its result counts as done.
    void readOnlyTarget_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("status");
        QTest::newRow("already holds its result") << QByteArray("a\r\n") << 0;
        QTest::newRow("would change") << QByteArray("\"a\"\r\n") << 1;
    }
    void readOnlyTarget() {
        QFETCH(QByteArray, content);
        QFETCH(int, status);
        TempFolder folder;
        const QString path = folder.write("locked.txt", content);
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        const Run run = cli({"--rule", "remove-double", "--in-place", path});
        QCOMPARE(run.status, status);
        QCOMPARE(run.err.contains(path + " is read-only"), status != 0);
        QCOMPARE(ReadBytes(path), content);
        QCOMPARE(folder.entries(), QStringList{"locked.txt"});
    }

    void codePageFromEnvironment() {
        TempFolder folder;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PARVELLO_CODEPAGE", "Shift_JIS");
        const QString path = folder.write("f.txt", "x");
        QCOMPARE(cli({"--rule", "remove-double", "--in-place", path}, env).status, 2);
        env.insert("PARVELLO_CODEPAGE", "ISO-8859-15");
        folder.write("e.txt", "\xA4\"");
        QCOMPARE(cli({"--rule", "remove-double", "--in-place", folder.path("e.txt")}, env).status,
                 0);
        QCOMPARE(ReadBytes(folder.path("e.txt")), QByteArray("\xA4\r\n"));
        // U+20AC is 0xA4 in ISO-8859-15; the replacement is written in that code page.
        QCOMPARE(cli({"--rule", "single-to-text", "--single-text", QStringLiteral("\u20AC"),
                      "--in-place", folder.write("s.txt", "'")},
                     env)
                     .status,
                 0);
        QCOMPARE(ReadBytes(folder.path("s.txt")), QByteArray("\xA4\r\n"));
        // Stateful ISO-2022-JP is refused: a quote byte inside a JIS character stays.
        env.insert("PARVELLO_CODEPAGE", "ISO-2022-JP");
        const QByteArray jis("\x1B$B\x30\x22\x1B(B");
        const Run refused =
            cli({"--rule", "remove-double", "--in-place", folder.write("j.txt", jis)}, env);
        QVERIFY2(refused.status == 2 && refused.err.contains("PARVELLO_CODEPAGE: \"ISO-2022-JP\""),
                 qPrintable(refused.err));
        QCOMPARE(ReadBytes(folder.path("j.txt")), jis);
        // ISO-8859-7 has nothing at 0xAE: a registered sign is refused, the file untouched.
        env.insert("PARVELLO_CODEPAGE", "ISO-8859-7");
        const Run cannotHold =
            cli({"--rule", "double-to-text", "--double-text", QStringLiteral("\u00AE"),
                 "--in-place", folder.write("g.txt", "\"a\"")},
                env);
        QVERIFY2(cannotHold.status == 1 && cannotHold.err.contains("ISO-8859-7 cannot hold"),
                 qPrintable(cannotHold.err));
        QCOMPARE(ReadBytes(folder.path("g.txt")), QByteArray("\"a\""));
    }

    // No named file is replaced before it is read: the job that would replace it is left
    // untouched and named, and the later job runs as usual.
    void listedFileIsReadBeforeItIsReplaced_data() { listOrderRows(); }
    void listedFileIsReadBeforeItIsReplaced() {
        QFETCH(QStringList, rows);
        QFETCH(bool, inPlace);
        QFETCH(QString, untouched);
        TempFolder folder;
        writeListOrderFiles(folder.root());
        QStringList args = {"--rule", "remove-double"};
        args << (inPlace ? QStringList{"--in-place"} : QStringList{"--out", folder.path("out")});
        for (const QString& row : rows)
            args << folder.path(row);
        const Run run = cli(args);
        QCOMPARE(run.err, untouched.isEmpty()
                              ? QString()
                              : "parvello-cli: left untouched: " + folder.path(untouched) + ": " +
                                    parvello::ReplacesUnreadFileReason() + "\n");
        QCOMPARE(run.status, untouched.isEmpty() ? 0 : 1);
        QCOMPARE(ReadBytes(folder.path("in/a.txt")), QByteArray("one\""));
        QCOMPARE(ReadBytes(folder.path("out/a.txt")), QByteArray("two\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
