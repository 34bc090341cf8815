#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"
#include "common/listorder.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "filelist/addfolder.h"
#include "filelist/folderaccess.h"
#include "quotes/unreadsources.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

using namespace parvello::testing;

namespace {

struct Run {
    int status = -1;
    QString out;
    QString err;
    QByteArray outBytes;
};

Run cli(const QStringList& args,
        const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
        const QByteArray& input = {}) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(PARVELLO_CLI), args);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(60000);
    const QByteArray out = process.readAllStandardOutput();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(out), QString::fromUtf8(process.readAllStandardError()), out};
}

Run piped(const QStringList& args, const QByteArray& input) {
    return cli(args, QProcessEnvironment::systemEnvironment(), input);
}

// A file under a name Qt cannot hold, written and read by its bytes.
bool WriteRaw(const QByteArray& path, const char* bytes) {
    FILE* file = std::fopen(path.constData(), "wb");
    return file && std::fputs(bytes, file) >= 0 && std::fclose(file) == 0;
}
QByteArray ReadRaw(const QByteArray& path) {
    char bytes[64] = {};
    FILE* file = std::fopen(path.constData(), "rb");
    const size_t got = file ? std::fread(bytes, 1, sizeof bytes, file) : 0;
    if (file)
        std::fclose(file);
    return QByteArray(bytes, qsizetype(got));
}

// The lines of --report json, by path.
QHash<QString, QJsonObject> reportOf(const Run& run) {
    QHash<QString, QJsonObject> records;
    for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts)) {
        QJsonParseError error{};
        const QJsonObject record = QJsonDocument::fromJson(line.toUtf8(), &error).object();
        if (error.error != QJsonParseError::NoError)
            qFatal("not a JSON line: %s", qPrintable(line));
        records.insert(record.value("path").toString(), record);
    }
    return records;
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
        QTest::newRow("diff in place")
            << QStringList{"--rule", "remove-double", "--diff", "--in-place", "f"}
            << "--diff writes nothing";
        QTest::newRow("ambiguous abbreviation")
            << QStringList{"--rule", "remove-double", "--c", "f"} << "option --c is ambiguous";
        QTest::newRow("value to a flag")
            << QStringList{"--rule", "remove-double", "--in-place=yes", "f"}
            << "--in-place takes no value";
        QTest::newRow("unknown short option")
            << QStringList{"--rule", "remove-double", "-nz", "f"} << "unknown option -z";
        QTest::newRow("short option without its value")
            << QStringList{"--rule", "remove-double", "-n", "f", "-j"} << "--jobs needs a value";
        QTest::newRow("line ends")
            << QStringList{"--rule", "remove-double", "-n", "--line-ends=cr", "f"}
            << "--line-ends takes crlf, keep or lf";
        QTest::newRow("backup when checking")
            << QStringList{"--rule", "remove-double", "-n", "--backup", "f"}
            << "--backup applies to --out and --in-place";
        QTest::newRow("stdin beside a file")
            << QStringList{"--rule", "remove-double", "-", "f"} << "must be the only file";
        QTest::newRow("stdin in place")
            << QStringList{"--rule", "remove-double", "--in-place", "-"} << "filters standard";
        QTest::newRow("ext alone")
            << QStringList{"--rule", "remove-double", "--check", "--ext", "txt", "f"}
            << "--ext applies to --recursive";
        QTest::newRow("null alone")
            << QStringList{"--rule", "remove-double", "--check", "-0", "f"} << "-0 applies";
        QTest::newRow("diff with json")
            << QStringList{"--rule", "remove-double", "--diff", "--report", "json", "f"}
            << "both write to standard output";
        QTest::newRow("report format")
            << QStringList{"--rule", "remove-double", "--check", "--report", "xml", "f"}
            << "unknown report format";
        QTest::newRow("missing tree")
            << QStringList{"--rule", "remove-double", "--check", "--recursive", "/no/such"}
            << "Folder does not exist";
    }
    void usageErrors() {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        TempFolder folder;
        const QString path = folder.write("f", "\"a\"");
        for (QString& arg : args)
            if (arg == "f")
                arg = path;
        const Run run = cli(args);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        QCOMPARE(ReadBytes(path), QByteArray("\"a\""));
        QCOMPARE(folder.entries(), QStringList{"f"});
    }

    void version() {
        const Run run = cli({"-V"});
        QCOMPARE(run.status, 0);
        QVERIFY2(QRegularExpression("^parvello-cli \\(Parvello\\) \\d+\\.\\d+\\.\\d+\nCopyright "
                                    "\\(C\\) [^\\n]+\nLicense: [^\\n]+\n")
                     .match(run.out)
                     .hasMatch(),
                 qPrintable(run.out));
        const Run help = cli({"-h"});
        QCOMPARE(help.status, 0);
        for (const QString& line : help.out.split('\n'))
            QVERIFY2(line.size() <= 80, qPrintable(line));
        QVERIFY(help.out.contains("Report problems to <"));
    }

    // On a terminal (a real one: a pseudo-terminal from script(1)) the run ends with its
    // summary, -v names each file, and -q keeps only problems; without a terminal neither
    // shows (the other tests compare standard error whole).
    void terminalSummary_data() {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("summary") << "-i"
                                 << QStringList{"parvello-cli: 1 file changed, 1 "
                                                "unchanged, 2 quotes"};
        QTest::newRow("verbose") << "-vij1"
                                 << QStringList{"parvello-cli: q.txt: written, 2 quote(s)",
                                                "parvello-cli: plain.txt: unchanged, 0 quote(s)",
                                                "parvello-cli: 1 file changed, 1 unchanged, 2 "
                                                "quotes"};
        QTest::newRow("check") << "-n"
                               << QStringList{"q.txt: 2 quote(s) would change",
                                              "parvello-cli: 1 file would change, 1 "
                                              "unchanged, 2 quotes"};
        QTest::newRow("quiet") << "-qi" << QStringList{};
    }
    void terminalSummary() {
        QFETCH(QString, options);
        QFETCH(QStringList, lines);
        TempFolder folder;
        folder.write("q.txt", "\"a\"\r\n");
        folder.write("plain.txt", "b\r\n");
        QProcess process;
        process.setWorkingDirectory(folder.root());
        process.start("script", {"-qec",
                                 QStringLiteral("%1 --rule=remove-double %2 q.txt plain.txt")
                                     .arg(QStringLiteral(PARVELLO_CLI), options),
                                 "/dev/null"});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), options == "-n" ? 1 : 0);
        QStringList shown = QString::fromUtf8(process.readAllStandardOutput())
                                .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        // Files are named as they finish (a result waiting for a shared flush, later); the
        // summary comes last.
        if (shown.size() > 2)
            std::sort(shown.begin(), shown.end() - 1);
        if (lines.size() > 2)
            std::sort(lines.begin(), lines.end() - 1);
        QCOMPARE(shown, lines);
    }

    // The forms of the command line people type: unique abbreviations, --opt=value, short
    // options combined and with their values attached, "--" before a name that begins with
    // "-", and --check with --diff (the diff, and status 1 when something would change).
    void optionForms_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("written"); // the file "-n" afterwards
        QTest::addColumn<QString>("out");
        const QByteArray before = "\"a\"";
        QTest::newRow("abbreviations") << QStringList{"--ru=remove-double", "--in-p", "--", "-n"}
                                       << 0 << QByteArray("a\r\n") << QString();
        QTest::newRow("combined short options")
            << QStringList{"--rule", "remove-double", "-qij1", "--", "-n"} << 0
            << QByteArray("a\r\n") << QString();
        QTest::newRow("check and diff")
            << QStringList{"--rule=remove-double", "-nd", "./-n"} << 1 << before
            << "--- ./-n\n+++ ./-n\n@@ -1 +1 @@\n-\"a\"\n\\ No newline at end of file\n+a\u240D\n";
        QTest::newRow("check") << QStringList{"--rule=remove-double", "-n", "--", "-n"} << 1
                               << before << "-n: 2 quote(s) would change\n";
        QTest::newRow("line ends kept")
            << QStringList{"--rule=remove-double", "--line-e=keep", "-i", "./-n"} << 0
            << QByteArray("a") << QString();
        QTest::newRow("line ends LF")
            << QStringList{"--rule=remove-double", "--line-ends", "lf", "-i", "./-n"} << 0
            << QByteArray("a\n") << QString();
        QTest::newRow("backup") << QStringList{"--rule=remove-double", "-i", "--backup=.orig",
                                               "./-n"}
                                << 0 << QByteArray("a\r\n") << QString();
    }
    void optionForms() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QByteArray, written);
        QFETCH(QString, out);
        TempFolder folder;
        folder.write("-n", "\"a\"");
        QProcess process;
        process.setWorkingDirectory(folder.root());
        process.start(QStringLiteral(PARVELLO_CLI), args);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), status);
        QVERIFY(QString::fromUtf8(process.readAllStandardOutput()).startsWith(out));
        QCOMPARE(ReadBytes(folder.path("-n")), written);
        QCOMPARE(QFile::exists(folder.path("-n.orig")), args.contains("--backup=.orig"));
        if (args.contains("--backup=.orig"))
            QCOMPARE(ReadBytes(folder.path("-n.orig")), QByteArray("\"a\""));
    }

    // The diff shows old and new text in UTF-8 whatever the encoding, a CR as U+240D on
    // changed lines; the file itself stays as it is.
    void diff_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("hunks");
        const QString utf8Hunk = QStringLiteral("@@ -1,3 +1,3 @@\n"
                                                "-\u201Ca\u201D \"b\"\n"
                                                "+a b\u240D\n"
                                                " same\r\n"
                                                "-end\n"
                                                "\\ No newline at end of file\n"
                                                "+end\u240D\n");
        const QByteArray utf8 = "\xE2\x80\x9C"
                                "a\xE2\x80\x9D \"b\"\nsame\r\nend";
        QTest::newRow("utf-8") << utf8 << utf8Hunk;
        QTest::newRow("utf-8 with mark")
            << "\xEF\xBB\xBF" + QByteArray(utf8).replace("\"\n", "\"\r\n")
            << QStringLiteral("@@ -1,3 +1,3 @@\n"
                              "-\u201Ca\u201D \"b\"\u240D\n"
                              "+a b\u240D\n"
                              " same\r\n"
                              "-end\n"
                              "\\ No newline at end of file\n"
                              "+end\u240D\n");
        QByteArray utf16("\xFF\xFE");
        for (const QChar c : QStringLiteral("x\n\u201Cy\u201D\"\"\n"))
            utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
        QTest::newRow("utf-16") << utf16
                                << QStringLiteral("@@ -1,2 +1,2 @@\n-x\n-\u201Cy\u201D\"\"\n"
                                                  "+x\u240D\n+y\u240D\n");
    }
    void diff() {
        QFETCH(QByteArray, content);
        QFETCH(QString, hunks);
        TempFolder folder;
        const QString path = folder.write("f.txt", content);
        const QString same = folder.write("same.txt", "x\r\n");
        const Run run = cli({"--rule", "remove-double", "--diff", path, same});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, "--- " + path + "\n+++ " + path + "\n" + hunks +
                              "1 of 2 file(s) would change, 4 quote(s) in all\n");
        QCOMPARE(ReadBytes(path), content);
        QCOMPARE(folder.entries(), (QStringList{"f.txt", "same.txt"}));
    }

    // Diffs too long to hold go to standard output as they are found, each whole and in the
    // order of the files, also when the files are compared side by side.
    void longDiffsInOrder() {
        TempFolder folder;
        QByteArray lines;
        for (int n = 0; n < 40000; ++n)
            lines += "line " + QByteArray::number(n) + " \"quoted\"\n";
        const QString a = folder.write("a.txt", lines);
        const QString b = folder.write("b.txt", "first\n" + lines);
        const auto diffOf = [](const QString& path) {
            const QByteArray out = cli({"--rule", "remove-double", "--diff", path}).outBytes;
            return out.left(out.lastIndexOf("1 of 1 file"));
        };
        const QByteArray diffs = diffOf(a) + diffOf(b);
        QVERIFY(diffs.size() > 3 << 20); // each one more than is held
        const Run run = cli({"--rule", "remove-double", "--diff", "--jobs", "2", a, b});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.outBytes, diffs + "2 of 2 file(s) would change, 160000 quote(s) in all\n");
    }

    // --check names what would change; a file left untouched also makes the status 1.
    void check_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("status");
        QTest::newRow("holds its result") << QByteArray("a 'b'\r\n") << "" << 0;
        QTest::newRow("quotes") << QByteArray("\"a\" \"b\"\r\n") << ": 4 quote(s) would change\n"
                                << 1;
        QTest::newRow("line ends only")
            << QByteArray("a\n") << ": no quotes, but its line ends or encoding would change\n"
            << 1;
        QTest::newRow("not text") << QByteArray("a\0\"", 3) << "" << 1;
    }
    void check() {
        QFETCH(QByteArray, content);
        QFETCH(QString, out);
        QFETCH(int, status);
        TempFolder folder;
        const QString path = folder.write("f.txt", content);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", folder.path("none")); // --check makes no file, not even there
        const Run run = cli({"--rule", "remove-double", "--check", path}, env);
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, out.isEmpty() ? out : path + out);
        QCOMPARE(run.err.contains("not a text file"), content.contains('\0'));
        QCOMPARE(ReadBytes(path), content);
    }

    // Standard input to standard output; what is not text passes through unchanged.
    void filter_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<int>("status");
        QTest::newRow("text") << QByteArray("say \"hi\"\nbye") << QByteArray("say hi\r\nbye\r\n")
                              << 0;
        QTest::newRow("utf-16") << QByteArray("\xFF\xFE\"\0a\0", 6)
                                << QByteArray("\xFF\xFE"
                                              "a\0\r\0\n\0",
                                              8)
                                << 0;
        QTest::newRow("binary") << QByteArray("\"\0\x01\xFF\"", 5)
                                << QByteArray("\"\0\x01\xFF\"", 5) << 1;
        // Longer than every block on the way in and out.
        const QByteArray lines = QByteArray("a \"b\"\n").repeated(60000);
        QTest::newRow("long text") << lines << QByteArray("a b\r\n").repeated(60000) << 0;
        QTest::newRow("long, not text at its end") << lines + '\0' << lines + '\0' << 1;
    }
    void filter() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        QFETCH(int, status);
        const Run run = piped({"--rule", "remove-double", "-"}, input);
        QCOMPARE(run.status, status);
        QCOMPARE(run.outBytes, output);
        QCOMPARE(run.err.contains("parvello-cli: -: "), status != 0);
    }

    // --recursive adds exactly what the window's "Add All File(s) In Folder" adds, in order.
    void recursiveIsTheWindowsScan_data() {
        QTest::addColumn<QString>("extension");
        QTest::newRow("txt") << "txt";
        QTest::newRow("every file") << "*";
    }
    void recursiveIsTheWindowsScan() {
        QFETCH(QString, extension);
        TempFolder folder;
        makeTree(folder.root(), {"b.txt", "a.md", "~temp.txt", ".hidden.txt", "z/", "z/c.TXT",
                                 "a b/d.txt", ".dot/e.txt", "A/f.txt", "A/deep/g.txt"});
        QVERIFY(QFile::link(folder.root(), folder.path("A/loop")));
        QVERIFY(QFile::link(folder.path("z"), folder.path("A/to-z")));
        QVERIFY(QFile::link("/etc/passwd", folder.path("s.txt"))); // out: named, exit 1
        parvello::testing::FakePlatform platform;
        parvello::testing::FakePrompts prompts;
        const auto access = parvello::LocalFolderAccess(platform);
        parvello::ScanServices services{prompts, *access, [] {}};
        parvello::Trap trap(prompts, "scan");
        QStringList window;
        parvello::AddFilesInFolderTree(services, trap, folder.root(), extension,
                                       [&](const QString& path) { window << path; });
        QVERIFY(window.size() >= 6);
        const Run run = cli({"--rule", "remove-double", "--check", "--report", "json",
                             "--recursive", folder.root() + "/", "--ext", extension});
        QStringList listed;
        for (const QString& line : run.out.split('\n', Qt::SkipEmptyParts))
            listed << QJsonDocument::fromJson(line.toUtf8()).object().value("path").toString();
        QCOMPARE(listed, window);
        QCOMPARE(run.status, 1);
        QVERIFY(run.err.contains("left out of the scan: " + folder.path("s.txt") + ": the link"));
    }

    // --recursive takes a file or folder whose name is not UTF-8 as any other: in place, and
    // into an --out folder under the same bytes.
    void recursiveTakesNamesNotInUtf8() {
        TempFolder folder, out;
        const QByteArray root = QFile::encodeName(folder.root());
        const QByteArray odd = root + "/caf\xE9.txt";
        const QByteArray inOdd = root + "/d\xE9j\xE0/x.txt";
        QVERIFY(::mkdir((root + "/d\xE9j\xE0").constData(), 0755) == 0);
        const auto cleanup = qScopeGuard([&] {
            ::unlink(odd.constData());
            ::unlink(inOdd.constData());
            ::unlink((QFile::encodeName(out.root()) + "/caf\xE9.txt").constData());
            ::rmdir((root + "/d\xE9j\xE0").constData());
        });
        QVERIFY(WriteRaw(odd, "\"a\"") && WriteRaw(inOdd, "\"b\""));
        Run run = cli({"--rule", "remove-double", "-o", out.root(), "-r", folder.root()});
        QCOMPARE(run.status, 0);
        QCOMPARE(ReadRaw(QFile::encodeName(out.root()) + "/caf\xE9.txt"), QByteArray("a\r\n"));
        QCOMPARE(ReadRaw(odd), QByteArray("\"a\""));
        run = cli({"--rule", "remove-double", "-i", "--report", "json", "-r", folder.root()});
        QCOMPARE(run.status, 0);
        const auto records = reportOf(run);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records.value('"' + folder.root() + "/d\\351j\\340/x.txt\"").value("outcome"),
                 "written");
        QCOMPARE(ReadRaw(odd), QByteArray("a\r\n"));
        QCOMPARE(ReadRaw(inOdd), QByteArray("b\r\n"));
    }

    // Names from a NUL-separated list are taken byte for byte: spaces and line breaks stay
    // part of the name, and a name that is not UTF-8 is the file of those bytes; the report
    // names it in its printable form.
    void filesFromNullSeparated() {
        TempFolder folder;
        const QStringList names = {"with space.txt", "line\nbreak.txt", "plain.txt"};
        QByteArray list;
        for (const QString& name : names)
            list += QFile::encodeName(folder.write(name, "\"q\"")) + '\0';
        const QByteArray odd = QFile::encodeName(folder.root()) + "/caf\xE9.txt";
        const auto cleanup = qScopeGuard([&] { ::unlink(odd.constData()); });
        QVERIFY(WriteRaw(odd, "\"e9\""));
        list += odd + '\0';
        const Run run = piped({"--rule", "remove-double", "--in-place", "--report", "json",
                               "--files-from", "-", "-0"},
                              list);
        QCOMPARE(run.status, 0);
        const auto records = reportOf(run);
        for (const QString& name : names) {
            QCOMPARE(records.value(folder.path(name)).value("outcome").toString(), "written");
            QCOMPARE(ReadBytes(folder.path(name)), QByteArray("q\r\n"));
        }
        QCOMPARE(records.value('"' + folder.root() + "/caf\\351.txt\"").value("outcome").toString(),
                 "written");
        QCOMPARE(ReadRaw(odd), QByteArray("e9\r\n"));
        QVERIFY(run.err.isEmpty());
    }

    // Every JSON line parses and tells what happened to the file it names.
    void reportAgreesWithFiles() {
        TempFolder folder;
        const QString u8 = folder.write("u8.txt", "\xE2\x80\x9Chi\xE2\x80\x9D\n");
        const QString ansi = folder.write("ansi.txt", "\x93x\x94 \"y\"\r\n");
        const QString binary = folder.write("bin.dat", QByteArray("\"\0", 2));
        const Run run =
            cli({"--rule", "remove-double", "--in-place", "--report", "json", u8, ansi, binary});
        QCOMPARE(run.status, 1);
        const auto records = reportOf(run);
        QCOMPARE(records.size(), 3);
        for (const QString& path : {u8, ansi}) {
            const QJsonObject record = records.value(path);
            QCOMPARE(record.value("outcome").toString(), "written");
            QCOMPARE(record.value("quotes").toInt(), path == u8 ? 2 : 4);
            QCOMPARE(record.value("bytes_out").toInteger(), QFileInfo(path).size());
        }
        QCOMPARE(records.value(u8).value("encoding").toString(), "utf-8");
        QCOMPARE(records.value(ansi).value("encoding").toString(), "code-page");
        QCOMPARE(records.value(ansi).value("bytes_in").toInt(), 9);
        QCOMPARE(records.value(binary).value("outcome").toString(), "not-text");
        QVERIFY(records.value(binary).value("reason").toString().contains("NUL"));
        QCOMPARE(ReadBytes(binary), QByteArray("\"\0", 2));
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
        QCOMPARE(run.err, "parvello-cli: replaced: " + out.path("f3.txt") + ": the result of " +
                              in.path("f3.txt") + " was replaced by the result of " +
                              in.path("sub/f3.txt") + "\n");
    }

    // Each problem is one line, "parvello-cli: PATH: what happened", with the system's own
    // words; the other files are done and the status is 1. Permissions are checked as a
    // user whom they stop.
    void untouchedFilesAreNamed_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("where"); // --in-place, or --out into the folder "out"
        QTest::addColumn<QString>("line");  // after "parvello-cli: PATH: "
        QTest::newRow("missing") << "gone.txt"
                                 << "-i"
                                 << "cannot read: No such file or directory";
        QTest::newRow("unreadable") << "secret.txt"
                                    << "-i"
                                    << "cannot read: Permission denied";
        QTest::newRow("folder") << "sub"
                                << "-i"
                                << "it is a folder, not a file";
        QTest::newRow("not text") << "binary.dat"
                                  << "-i"
                                  << "it holds a NUL byte, so it is not a text file";
        QTest::newRow("pipe") << "pipe"
                              << "-i"
                              << "it is a pipe, socket or device, not a file";
        QTest::newRow("read-only") << "locked.txt"
                                   << "-i"
                                   << "cannot write: it is read-only";
        QTest::newRow("folder not writable") << "plain.txt"
                                             << "-o"
                                             << "cannot write out/plain.txt: Permission denied";
    }
    void untouchedFilesAreNamed() {
        QFETCH(QString, name);
        QFETCH(QString, where);
        QFETCH(QString, line);
        TempFolder folder;
        QFile::setPermissions(folder.root(), QFileDevice::Permissions(0x7777));
        const QString good = folder.write("good.txt", "\"a\"");
        folder.write("binary.dat", QByteArray("\"\0\"", 3));
        folder.write("plain.txt", "\"p\"");
        QFile::setPermissions(folder.write("secret.txt", "\"s\""), {});
        QFile::setPermissions(folder.write("locked.txt", "\"l\""), QFileDevice::ReadOther);
        QVERIFY(QDir(folder.root()).mkdir("sub") && QDir(folder.root()).mkdir("out"));
        QFile::setPermissions(folder.path("out"), QFileDevice::ReadOther | QFileDevice::ExeOther);
        QVERIFY(::mkfifo(QFile::encodeName(folder.path("pipe")).constData(), 0666) == 0);
        for (const QString& file : folder.entries())
            if (file != "secret.txt" && file != "locked.txt" && file != "out")
                QFile::setPermissions(folder.path(file), QFileDevice::Permissions(0x7777));
        QStringList args = {QStringLiteral(PARVELLO_CLI), "--rule=remove-double", where};
        args << (where == "-o" ? QStringList{"out", name} : QStringList{"good.txt", name});
        QProcess process;
        process.setWorkingDirectory(folder.root());
        QVERIFY2(UnprivilegedMayRun(PARVELLO_CLI), PARVELLO_UNREACHABLE_AS_NOBODY(PARVELLO_CLI));
        if (RunningAsRoot()) // as a user whom permission bits stop
            args = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + args;
        process.start(RunningAsRoot() ? "setpriv" : args.takeFirst(), args);
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()),
                 "parvello-cli: " + name + ": " + line + "\n");
        QCOMPARE(ReadBytes(good), where == "-o" ? QByteArray("\"a\"") : QByteArray("a\r\n"));
    }

    // A name whose bytes are not valid UTF-8 is never turned into another name: the file of
    // those bytes gets its result, and the file named with U+FFFD is left as it is.
    void nameNotHeldExactly() {
        TempFolder folder;
        const QString replacement = folder.write(QStringLiteral("caf\uFFFD.txt"), "\"fffd\"");
        const QByteArray raw = QFile::encodeName(folder.root()) + "/caf\xE9.txt";
        QVERIFY(WriteRaw(raw, "\"e9\""));
        // QProcess would hand the name on as text; the shell passes its bytes.
        QProcess process;
        process.start("/bin/sh", {"-c",
                                  "exec \"$0\" --rule remove-double --in-place \"$1/$(printf "
                                  "'caf\\351.txt')\"",
                                  PARVELLO_CLI, folder.root()});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(process.readAllStandardError()), QString());
        QCOMPARE(ReadBytes(replacement), QByteArray("\"fffd\""));
        QCOMPARE(ReadRaw(raw), QByteArray("e9\r\n"));
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
        QCOMPARE(run.err.contains(path + ": cannot write: it is read-only"), status != 0);
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
        // Plain ASCII where the locale speaks UTF-8: a replacement that is not ASCII is
        // written in UTF-8; with a code page named, in that code page.
        env.remove("PARVELLO_CODEPAGE");
        env.insert("LC_ALL", "C.UTF-8");
        const QStringList curly{"--rule", "double-to-text", "--double-text",
                                QStringLiteral("\u201C"), "--in-place"};
        QCOMPARE(cli(curly + QStringList{folder.write("u.txt", "a \"b\"")}, env).status, 0);
        QCOMPARE(ReadBytes(folder.path("u.txt")), QByteArray("a \xE2\x80\x9C"
                                                             "b\xE2\x80\x9C\r\n"));
        env.insert("PARVELLO_CODEPAGE", "windows-1252");
        QCOMPARE(cli(curly + QStringList{folder.write("w.txt", "a \"b\"")}, env).status, 0);
        QCOMPARE(ReadBytes(folder.path("w.txt")), QByteArray("a \x93"
                                                             "b\x93\r\n"));
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
                              : "parvello-cli: " + folder.path(untouched) + ": " +
                                    parvello::ToQString(parvello::ReplacesUnreadFileReason()) +
                                    "\n");
        QCOMPARE(run.status, untouched.isEmpty() ? 0 : 1);
        QCOMPARE(ReadBytes(folder.path("in/a.txt")), QByteArray("one\""));
        QCOMPARE(ReadBytes(folder.path("out/a.txt")), QByteArray("two\r\n"));
    }

    // Standard output that fails (a full disk) is named, with status 2, in every mode that
    // writes to it.
    void stdoutFails_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("filter") << QStringList{"-"};
        QTest::newRow("diff") << QStringList{"--diff", "f.txt"};
        QTest::newRow("report json") << QStringList{"--in-place", "--report", "json", "f.txt"};
    }
    void stdoutFails() {
        QFETCH(QStringList, args);
        TempFolder folder;
        folder.write("f.txt", "\"a\"\n");
        QProcess process;
        process.setWorkingDirectory(folder.root());
        process.setStandardOutputFile("/dev/full");
        process.start(PARVELLO_CLI, QStringList{"--rule", "remove-double"} + args);
        process.write("\"a\"\n");
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardError().endsWith(
            "parvello-cli: standard output: No space left on device\n"));
    }

    // A name with an escape sequence, a line break or bytes that are not UTF-8 is printed
    // quoted, on one line, on standard error, by --check and in --diff's headers.
    void printedNames_data() {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("printed");
        QTest::newRow("escape") << QByteArray("e\x1B]52;c;eA==\a\x1B[2J")
                                << "e\\033]52;c;eA==\\a\\033[2J";
        QTest::newRow("line break") << QByteArray("x\n+++ v.txt\n@@ -1 +1 @@\n+PWNED")
                                    << "x\\n+++ v.txt\\n@@ -1 +1 @@\\n+PWNED";
        QTest::newRow("carriage return") << QByteArray("a.txt\r") << "a.txt\\r";
        QTest::newRow("not UTF-8") << QByteArray("caf\xE9") << "caf\\351";
    }
    void printedNames() {
        QFETCH(QByteArray, name);
        QFETCH(QString, printed);
        TempFolder folder;
        const QByteArray path = QFile::encodeName(folder.root()) + '/' + name;
        const QString shown = '"' + folder.root() + '/' + printed;
        QVERIFY(WriteRaw(path, "\"q\"\n"));
        for (const QString mode : {"--check", "--diff"}) {
            const Run run = piped({"--rule", "remove-double", mode, "--files-from", "-", "-0"},
                                  path + '\0' + path + "-gone" + '\0');
            QCOMPARE(run.status, 1);
            QVERIFY(!run.err.contains('\x1B') && !run.out.contains('\x1B'));
            QCOMPARE(run.err.count("\nparvello-cli: "), run.err.count('\n') - 1); // one line each
            QVERIFY(run.err.split('\n').contains(
                "parvello-cli: " + shown + "-gone\": cannot read: No such file or directory"));
            const QString out = mode == "--check"
                                    ? shown + "\": 2 quote(s) would change\n"
                                    : "--- " + shown + "\"\n+++ " + shown + "\"\n@@ -1 +1 @@\n";
            QVERIFY2(run.out.startsWith(out), qPrintable(run.out));
        }
        // The report holds the name itself when it is UTF-8, else the printed form: the line
        // is valid JSON either way.
        const Run run =
            piped({"--rule", "remove-double", "-n", "--report", "json", "--files-from", "-", "-0"},
                  path + '\0');
        const QString reported =
            name.isValidUtf8() ? folder.root() + '/' + QString::fromUtf8(name) : shown + '"';
        QCOMPARE(reportOf(run).value(reported).value("outcome"), "would-change");
        QVERIFY(::unlink(path.constData()) == 0);
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
