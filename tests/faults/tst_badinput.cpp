// Bad input: files that are not text, broken encodings behind every mark, reads that cross
// the loader's chunks, awkward file and folder names, and (with PARVELLO_HEAVY_TESTS=1)
// very long lines, very many files and a very large file. Each case goes through the
// engine (ProcessFile) and through parvello-cli, and each asserts that no byte of any
// input was lost: a file is either left exactly as it was or holds exactly its result,
// and nothing else appears beside it.
#include "app/fileboxes.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "quotes/fileengine.h"
#include "textio/textloader.h"

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace parvello;
using namespace parvello::testing;

Q_DECLARE_METATYPE(parvello::FileOutcome)

namespace {

const QByteArray Utf8Mark("\xEF\xBB\xBF", 3);
const QByteArray Utf16LEMark("\xFF\xFE", 2);
const QByteArray Utf16BEMark("\xFE\xFF", 2);
const QByteArray Utf32LEMark("\xFF\xFE\x00\x00", 4);
const QByteArray Utf32BEMark("\x00\x00\xFE\xFF", 4);

QByteArray bytes(const char* text, qsizetype size) {
    return QByteArray(text, size);
}

QByteArray units16(std::initializer_list<char16_t> units, bool bigEndian) {
    QByteArray out;
    for (const char16_t unit : units) {
        const char high = char(unit >> 8);
        const char low = char(unit & 0xFF);
        out += bigEndian ? QByteArray{&high, 1} + QByteArray{&low, 1}
                         : QByteArray{&low, 1} + QByteArray{&high, 1};
    }
    return out;
}

QByteArray units32(std::initializer_list<quint32> values, bool bigEndian) {
    QByteArray out;
    for (const quint32 value : values)
        for (int i = 0; i < 4; ++i)
            out += char((value >> (bigEndian ? 24 - 8 * i : 8 * i)) & 0xFF);
    return out;
}

// Every file under a folder, by relative path, with its bytes.
QMap<QString, QByteArray> Snapshot(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), ReadBytes(path));
    }
    return files;
}

// Lines as the text-stream road ends them: CR LF, lone CR and lone LF each become CR LF,
// and the last line gets one too (an empty file is one empty line).
QByteArray WithCrLf(const QByteArray& text) {
    QByteArray out;
    qsizetype i = 0;
    qsizetype start = 0;
    bool any = false;
    while (i < text.size()) {
        if (text[i] != '\r' && text[i] != '\n') {
            ++i;
            continue;
        }
        out += text.mid(start, i - start) + "\r\n";
        any = true;
        i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
        start = i;
    }
    if (start < text.size() || !any)
        out += text.mid(start) + "\r\n";
    return out;
}

struct Run {
    int status = -1;
    QString out;
    QString err;
};

Run Cli(const QStringList& args, int timeoutMs = 60000) {
    QProcess process;
    process.start(QStringLiteral(PARVELLO_CLI), args);
    if (!process.waitForFinished(timeoutMs))
        process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

bool Heavy() {
    return qEnvironmentVariableIntValue("PARVELLO_HEAVY_TESTS") == 1;
}

// The broken files, each with a double quote in it so that a rule would have changed it.
struct Broken {
    const char* name;
    QByteArray bytes;
};

QList<Broken> BrokenFiles() {
    const auto le = [](std::initializer_list<char16_t> u) { return units16(u, false); };
    const auto be = [](std::initializer_list<char16_t> u) { return units16(u, true); };
    const auto le32 = [](std::initializer_list<quint32> v) { return units32(v, false); };
    const auto be32 = [](std::initializer_list<quint32> v) { return units32(v, true); };
    return {
        // Behind the UTF-8 mark.
        {"utf8 truncated 2-byte at end", Utf8Mark + "\"a\" \xC3"},
        {"utf8 truncated 3-byte at end", Utf8Mark + "\"a\" \xE2\x80"},
        {"utf8 truncated 4-byte at end", Utf8Mark + "\"a\" \xF0\x9F\x98"},
        {"utf8 truncated 3-byte in the middle", Utf8Mark + "\"a\xE2\x80\" b"},
        {"utf8 lead byte then ASCII", Utf8Mark + "\"\xC3"
                                                 "a\""},
        {"utf8 stray continuation", Utf8Mark + "\"\x80\""},
        {"utf8 overlong slash 2-byte", Utf8Mark + "\"\xC0\xAF\""},
        {"utf8 overlong slash 3-byte", Utf8Mark + "\"\xE0\x80\xAF\""},
        {"utf8 overlong slash 4-byte", Utf8Mark + "\"\xF0\x80\x80\xAF\""},
        {"utf8 overlong NUL", Utf8Mark + "\"\xC0\x80\""},
        {"utf8 high surrogate", Utf8Mark + "\"\xED\xA0\x80\""},
        {"utf8 low surrogate", Utf8Mark + "\"\xED\xBF\xBF\""},
        {"utf8 surrogate pair in six bytes", Utf8Mark + "\"\xED\xA0\xBD\xED\xB8\x80\""},
        {"utf8 above U+10FFFF", Utf8Mark + "\"\xF4\x90\x80\x80\""},
        {"utf8 F5 lead", Utf8Mark + "\"\xF5\x80\x80\x80\""},
        {"utf8 five-byte form", Utf8Mark + "\"\xF8\x88\x80\x80\x80\""},
        {"utf8 FE and FF", Utf8Mark + "\"\xFE\xFF\""},
        // Behind the UTF-16 marks.
        {"utf16le odd length", Utf16LEMark + le({u'"', u'a', u'"'}) + "b"},
        {"utf16le one byte after the mark", Utf16LEMark + "\""},
        {"utf16le unpaired high", Utf16LEMark + le({u'"', 0xD83D, u'a', u'"'})},
        {"utf16le unpaired high at end", Utf16LEMark + le({u'"', u'a', u'"', 0xD83D})},
        {"utf16le unpaired low", Utf16LEMark + le({u'"', 0xDE00, u'"'})},
        {"utf16le pair reversed", Utf16LEMark + le({u'"', 0xDE00, 0xD83D, u'"'})},
        {"utf16be odd length", Utf16BEMark + be({u'"', u'a', u'"'}) + "b"},
        {"utf16be unpaired high", Utf16BEMark + be({u'"', 0xD800, u'"'})},
        {"utf16be unpaired low at end", Utf16BEMark + be({u'"', u'"', 0xDFFF})},
        // Behind the UTF-32 marks.
        {"utf32le above U+10FFFF", Utf32LEMark + le32({'"', 0x110000, '"'})},
        {"utf32le all bits set", Utf32LEMark + le32({'"', 0xFFFFFFFF})},
        {"utf32le surrogate", Utf32LEMark + le32({'"', 0xD800, '"'})},
        {"utf32le one byte short", Utf32LEMark + le32({'"', 'a'}).chopped(1)},
        {"utf32le two extra bytes", Utf32LEMark + le32({'"', 'a'}) + "\"\x00"},
        {"utf32be above U+10FFFF", Utf32BEMark + be32({'"', 0x7FFFFFFF})},
        {"utf32be surrogate", Utf32BEMark + be32({'"', 0xDFFF})},
        {"utf32be three extra bytes", Utf32BEMark + be32({'"'}) + bytes("\x00\x00\x22", 3)},
        // No mark: binary data.
        {"NUL in ASCII", bytes("\"a\"\x00", 4)},
        {"NUL only", bytes("\x00", 1)},
        {"NUL in valid UTF-8", bytes("\xE2\x80\x9C"
                                     "a\xE2\x80\x9D\x00",
                                     8)},
        {"ELF header", bytes("\x7F"
                             "ELF\x02\x01\x01\x00\x00\x00\"",
                             11)},
        {"PNG signature", bytes("\x89PNG\r\n\x1A\n\x00\x00\x00\rIHDR\"", 17)},
        {"gzip header", bytes("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x03\"", 11)},
    };
}

void AddBrokenRows() {
    QTest::addColumn<QByteArray>("input");
    for (const Broken& broken : BrokenFiles())
        QTest::newRow(broken.name) << broken.bytes;
}

// Random bytes with at least one NUL: what a binary file looks like.
QByteArray RandomBinary(quint32 seed, qsizetype size) {
    QRandomGenerator random(seed);
    QByteArray out(size, '\0');
    for (qsizetype i = 0; i < size; ++i)
        out[i] = char(random.bounded(256));
    out[random.bounded(int(size))] = '\0';
    return out;
}

} // namespace

class TestBadInput : public QObject {
    Q_OBJECT

private:
    // Through the engine into another folder and then in place: left untouched both times,
    // with a reason, no box, no output and no temporary file.
    static void expectUntouchedByEngine(const QByteArray& input) {
        TempFolder in, out;
        const QString source = in.write("f.txt", input);
        const QuoteReplacer rule(QuoteRule::DoubleToText, u"<>", {});
        for (const QString& output : {out.path("f.txt"), source}) {
            FakePrompts prompts;
            const FileReport report = ProcessFileShowingFailures(source, output, rule, prompts);
            QCOMPARE(report.outcome, FileOutcome::NotText);
            QVERIFY(!report.reason.empty());
            QCOMPARE(prompts.calls.size(), 0);
            QCOMPARE(ReadBytes(source), input);
            QCOMPARE(in.entries(), QStringList{"f.txt"});
            QCOMPARE(out.entries(), QStringList());
        }
    }

private slots:
    void brokenEncodings_data() { AddBrokenRows(); }
    void brokenEncodings() {
        QFETCH(QByteArray, input);
        expectUntouchedByEngine(input);
    }

    // All broken files in one run of parvello-cli, among good ones: each broken file is
    // named and untouched, each good one holds its result.
    void brokenEncodingsThroughCli() {
        TempFolder in, out;
        QStringList paths;
        QMap<QString, QByteArray> expected;
        int n = 0;
        for (const Broken& broken : BrokenFiles()) {
            const QString name = QStringLiteral("broken-%1.txt").arg(++n);
            paths << in.write(name, broken.bytes);
            expected.insert(name, broken.bytes);
            const QString good = QStringLiteral("good-%1.txt").arg(n);
            paths << in.write(good, "\"good\"");
            expected.insert(good, "good\r\n");
        }
        const QMap<QString, QByteArray> before = Snapshot(in.root());

        const Run toFolder = Cli(QStringList{"--rule", "remove-double", "--out", out.root()} +
                                 QStringList{"--"} + paths);
        QCOMPARE(toFolder.status, 1);
        QCOMPARE(Snapshot(in.root()), before);
        QCOMPARE(out.entries().size(), n); // only the good files
        for (int i = 1; i <= n; ++i)
            QCOMPARE(ReadBytes(out.path(QStringLiteral("good-%1.txt").arg(i))),
                     QByteArray("good\r\n"));

        const Run inPlace = Cli(QStringList{"--rule", "remove-double", "--in-place", "--"} + paths);
        QCOMPARE(inPlace.status, 1);
        QCOMPARE(Snapshot(in.root()), expected);
        for (int i = 1; i <= n; ++i)
            QVERIFY2(
                inPlace.err.contains(QStringLiteral("parvello-cli: %1: ")
                                         .arg(in.path(QStringLiteral("broken-%1.txt").arg(i)))),
                qPrintable(inPlace.err));
    }

    // Reads go in chunks of LoadChunkSize bytes: sequences, marks and NUL bytes on either
    // side of a chunk's end. No rule, so the output is the input with its line ends.
    void acrossChunks_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output"); // empty: not text, left untouched
        const qsizetype chunk = LoadChunkSize;
        const QByteArray e = "\xC3\xA9";            // é in UTF-8
        const QByteArray pair = "\xF0\x9F\x98\x80"; // U+1F600 in UTF-8
        const QByteArray a = QByteArray(chunk - 1, 'a');
        QTest::newRow("markless UTF-8: a sequence split by the chunk's end")
            << a + e << a + e + "\r\n";
        QTest::newRow("markless UTF-8: a four-byte sequence split by the chunk's end")
            << QByteArray(chunk - 2, 'a') + pair << QByteArray(chunk - 2, 'a') + pair + "\r\n";
        QTest::newRow("markless: lead byte at the chunk's end, then ASCII: code page")
            << a + "\xC3" + "b" << a + "\xC3" + "b\r\n";
        QTest::newRow("markless: NUL in the second chunk")
            << QByteArray(chunk + 10, 'a') + '\0' << QByteArray();
        QTest::newRow("markless: NUL after non-UTF-8 bytes, in the second chunk")
            << "\x93" + QByteArray(chunk + 10, 'a') + '\0' << QByteArray();
        QTest::newRow("UTF-8 mark: sequence split by the chunk's end")
            << Utf8Mark + QByteArray(chunk - 4, 'a') + e
            << Utf8Mark + QByteArray(chunk - 4, 'a') + e + "\r\n";
        QTest::newRow("UTF-8 mark: truncated at the end of a second chunk")
            << Utf8Mark + QByteArray(chunk, 'a') + "\xE2\x80" << QByteArray();
        QTest::newRow("UTF-8 mark: overlong form in the second chunk")
            << Utf8Mark + QByteArray(chunk, 'a') + "\xC0\xAF" + "z" << QByteArray();
        QTest::newRow("UTF-16 LE: a pair split by the chunk's end")
            << Utf16LEMark + QByteArray(chunk - 4, 'a') + units16({0xD83D, 0xDE00}, false)
            << Utf16LEMark + QByteArray(chunk - 4, 'a') + units16({0xD83D, 0xDE00}, false) +
                   units16({u'\r', u'\n'}, false);
        QTest::newRow("UTF-16 LE: unpaired low surrogate in the second chunk")
            << Utf16LEMark + QByteArray(chunk, 'a') + units16({0xDC00}, false) << QByteArray();
        QTest::newRow("UTF-32 BE: out of range in the second chunk")
            << Utf32BEMark + units32({'a'}, true).repeated(chunk / 4) + units32({0x110000}, true)
            << QByteArray();
    }
    void acrossChunks() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        if (output.isEmpty()) {
            expectUntouchedByEngine(input);
            return;
        }
        TempFolder in, out;
        FakePrompts prompts;
        const QString source = in.write("f.txt", input);
        const FileReport report = ProcessFileShowingFailures(
            source, out.path("f.txt"), QuoteReplacer(QuoteRule::None, {}, {}), prompts);
        QCOMPARE(report.outcome, FileOutcome::Written);
        QCOMPARE(prompts.calls.size(), 0);
        QVERIFY(ReadBytes(out.path("f.txt")) == output); // QCOMPARE would print megabytes
        QVERIFY(ReadBytes(source) == input);
    }

    // Binary data with a NUL anywhere is never rewritten, whatever its size.
    void binaryFiles_data() {
        QTest::addColumn<QByteArray>("input");
        for (const quint32 seed : {1u, 2u, 3u})
            for (const qsizetype size : {2, 100, 5000})
                QTest::addRow("random %u, %lld bytes", seed, qlonglong(size))
                    << RandomBinary(seed, size);
        QTest::newRow("NUL only at the very end") << QByteArray(20000, '"') + '\0';
    }
    void binaryFiles() {
        QFETCH(QByteArray, input);
        expectUntouchedByEngine(input);
    }

    // Every byte but NUL, in a mark-less file: the code page keeps each one, the rule only
    // takes the double quotes (0x22, and 0x93 0x94 in windows-1252) and the line ends
    // become CR LF.
    void everyNonNulByteSurvives() {
        QByteArray input;
        for (int b = 1; b < 256; ++b)
            input += char(b);
        input += input; // twice, so a quote is also followed by other bytes
        QByteArray kept = input;
        kept.replace('"', "").replace('\x93', "").replace('\x94', "");
        TempFolder folder;
        FakePrompts prompts;
        const QString source = folder.write("all.bin", input);
        const FileReport report = ProcessFileShowingFailures(
            source, source, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
        QCOMPARE(report.outcome, FileOutcome::Written);
        QCOMPARE(ReadBytes(source), WithCrLf(kept));
        QCOMPARE(folder.entries(), QStringList{"all.bin"});
    }

    // File and folder names that are long, non-ASCII, or hold line breaks, quotes, a
    // backslash or a leading dash: each file is found, processed and written back under
    // its own name, through the engine and through parvello-cli.
    void awkwardNames_data() {
        QTest::addColumn<QString>("folder"); // relative, created first
        QTest::addColumn<QString>("name");
        const QString longAscii(240, QLatin1Char('n'));
        const QString longAccented(120, QChar(0x00E9)); // 240 bytes in UTF-8
        QTest::newRow("non-ASCII")
            << QStringLiteral("F\u00F6lder \u2013 \u2018x\u2019")
            << QStringLiteral("\u00DCn\u00EFc\u00F8d\u00E9 \u201Cname\u201D \u4E2D\u6587 "
                              "\U0001F600.txt");
        QTest::newRow("long names, path over 260 characters")
            << longAscii + "/" + longAscii << longAscii.left(200) + ".txt";
        QTest::newRow("long non-ASCII names") << longAccented << longAccented + ".txt";
        QTest::newRow("line feed in both")
            << QStringLiteral("two\nlines") << QStringLiteral("line\nbreak.txt");
        QTest::newRow("carriage return and tab") << QString() << QStringLiteral("cr\rtab\t.txt");
        QTest::newRow("quotes in the name")
            << QStringLiteral("\"dir\"") << QStringLiteral("it's \"quoted\" \u201Cx\u201D.txt");
        QTest::newRow("backslashes") << QStringLiteral("a\\\\b") << QStringLiteral("c\\d.txt");
        QTest::newRow("leading dashes") << QStringLiteral("-d") << QStringLiteral("--rule");
        QTest::newRow("spaces and dots") << QStringLiteral(" . ") << QStringLiteral(" .txt. ");
    }
    void awkwardNames() {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        const QByteArray input = "\"a\" 'b'\n";
        const QByteArray result = "a 'b'\r\n";
        TempFolder in, out;
        QVERIFY(folder.isEmpty() || QDir(in.root()).mkpath(folder));
        const QString relative = folder.isEmpty() ? name : folder + "/" + name;
        const QString source = in.write(relative, input);
        QVERIFY2(QFile::exists(source), qPrintable(source));
        const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});

        FakePrompts prompts;
        QCOMPARE(ProcessFileShowingFailures(source, out.path(name), rule, prompts).outcome,
                 FileOutcome::Written);
        QCOMPARE(prompts.calls.size(), 0);
        QCOMPARE(Snapshot(out.root()), (QMap<QString, QByteArray>{{name, result}}));
        QCOMPARE(ReadBytes(source), input);

        QVERIFY(QFile::remove(out.path(name)));
        Run run = Cli({"--rule", "remove-double", "--out", out.root(), "--", source});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.err, QString());
        QCOMPARE(Snapshot(out.root()), (QMap<QString, QByteArray>{{name, result}}));
        QCOMPARE(Snapshot(in.root()), (QMap<QString, QByteArray>{{relative, input}}));

        run = Cli({"--rule", "remove-double", "--in-place", "--", source});
        QCOMPARE(run.status, 0);
        QCOMPARE(Snapshot(in.root()), (QMap<QString, QByteArray>{{relative, result}}));
    }

    // An output folder whose name is long and not ASCII.
    void awkwardOutputFolder() {
        TempFolder in, out;
        const QString folder =
            out.path(QString(80, QChar(0x4E2D)) + "/line\nfeed " + QString(150, QLatin1Char('o')));
        QVERIFY(QDir().mkpath(folder));
        const QString source = in.write("f.txt", "\u201C");
        const Run run = Cli({"--rule", "remove-double", "--out", folder, source});
        QCOMPARE(run.status, 0);
        QCOMPARE(ReadBytes(folder + "/f.txt"), QByteArray("\r\n"));
        QCOMPARE(ReadBytes(source), QByteArray("\u201C"));
    }

#ifdef Q_OS_UNIX
    // A name whose bytes are not UTF-8, named through the cli's arguments, is the file of
    // those bytes: it gets its result, and no other name is written.
    void nameNotInUtf8() {
        TempFolder folder;
        const QByteArray root = QFile::encodeName(folder.root());
        const QByteArray name = root + "/caf\xE9.txt";
        {
            FILE* file = std::fopen(name.constData(), "wb");
            QVERIFY(file);
            std::fputs("\"a\"", file);
            std::fclose(file);
        }
        // Qt cannot name this file to remove it with the folder.
        const auto cleanup = qScopeGuard([&] { ::unlink(name.constData()); });
        // The shell expands the pattern to the real bytes of the name.
        QProcess process;
        process.start(QStringLiteral("/bin/sh"),
                      {"-c",
                       QString::fromLatin1("exec \"$0\" --rule remove-double --in-place " + root +
                                           "/caf*.txt"),
                       QStringLiteral(PARVELLO_CLI)});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitCode(), 0);
        QCOMPARE(process.readAllStandardError(), QByteArray());
        FILE* file = std::fopen(name.constData(), "rb");
        QVERIFY(file);
        char buffer[16] = {};
        const size_t got = std::fread(buffer, 1, sizeof buffer, file);
        std::fclose(file);
        QCOMPARE(QByteArray(buffer, qsizetype(got)), QByteArray("a\r\n"));
        int entries = 0;
        if (DIR* dir = ::opendir(root.constData())) {
            while (const dirent* entry = ::readdir(dir))
                entries += std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, "..");
            ::closedir(dir);
        }
        QCOMPARE(entries, 1); // no output under a mangled name, no temporary file
    }
    // A pipe, a socket or a device given as a file: read twice (the mark, then the whole) a pipe
    // would lose its first bytes, or block for ever with nobody writing. It is named and
    // left alone, and nothing is written for it.
    void pipesAndDevices() {
        TempFolder in, out;
        const QString pipe = in.path("pipe.txt");
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
        const QString socket = in.path("socket.txt");
        QVERIFY(MakeSpecial(socket, S_IFSOCK));
        for (const QString& path : {pipe, socket, QStringLiteral("/dev/null")}) {
            for (const QStringList& where :
                 {QStringList{"--out", out.root()}, QStringList{"--in-place"}}) {
                const Run run =
                    Cli(QStringList{"--rule", "remove-double"} + where + QStringList{path}, 20000);
                QCOMPARE(run.status, 1);
                QVERIFY2(run.err.contains("parvello-cli: " + path +
                                          ": it is a pipe, socket or device, not a file"),
                         qPrintable(run.err));
                QCOMPARE(out.entries(), QStringList());
                QCOMPARE(QDir(in.root()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                                   QDir::NoDotAndDotDot),
                         (QStringList{"pipe.txt", "socket.txt"}));
                QVERIFY(QFileInfo(pipe).exists() && !QFileInfo(pipe).isFile());
            }
        }
    }
#endif

    // ---- Heavy cases: PARVELLO_HEAVY_TESTS=1 ------------------------------------------

    // One line of 100 MB on the code-page, UTF-8 mark and UTF-16 roads, through the cli.
    void hundredMegabyteLine_data() {
        QTest::addColumn<QByteArray>("mark");
        QTest::addColumn<bool>("utf16");
        QTest::newRow("code page") << QByteArray() << false;
        QTest::newRow("UTF-8 mark") << Utf8Mark << false;
        QTest::newRow("UTF-16 LE") << Utf16LEMark << true;
    }
    void hundredMegabyteLine() {
        if (!Heavy())
            QSKIP("set PARVELLO_HEAVY_TESTS=1 to run");
        QFETCH(QByteArray, mark);
        QFETCH(bool, utf16);
        const qsizetype size = 100 * 1000 * 1000;
        QByteArray pattern = "abc \"quoted\" it's ";
        const QByteArray line = pattern.repeated(size / pattern.size());
        QByteArray kept = line;
        kept.replace('"', "");
        const auto encode = [&](const QByteArray& ascii) {
            if (!utf16)
                return ascii;
            QByteArray out(ascii.size() * 2, '\0');
            for (qsizetype i = 0; i < ascii.size(); ++i)
                out[2 * i] = ascii[i];
            return out;
        };
        TempFolder folder;
        const QString path = folder.write("line.txt", mark + encode(line));
        const Run run = Cli({"--rule", "remove-double", "--in-place", path}, 600000);
        QCOMPARE(run.status, 0);
        QVERIFY(ReadBytes(path) == mark + encode(kept + "\r\n"));
        QCOMPARE(folder.entries(), QStringList{"line.txt"});
    }

#ifdef Q_OS_UNIX
    // Limits are failures like any other: with no thread to be had the work is done on the
    // one there is; a list whose name never ends is read no further than the longest path,
    // and named. The rest of the run goes on, nothing crashes, nothing is left behind.
    void limits_data() {
        QTest::addColumn<QByteArray>("limit"); // for the unprivileged user
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QByteArray>("named");
        // The leak checker of a sanitized build needs a thread of its own at the end.
        QTest::newRow("no thread to be had")
            << QByteArray("ulimit -u 1; export ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\"")
            << QByteArray() << QByteArray();
        QTest::newRow("a list without line ends")
            << QByteArray(":") << QByteArray("--files-from /dev/zero")
            << QByteArray("parvello-cli: --files-from /dev/zero: a name in it is "
                          "longer than 4096 bytes, the longest path the system takes; the rest "
                          "of the list is not read\n");
    }
    void limits() {
        QFETCH(QByteArray, limit);
        QFETCH(QByteArray, list);
        QFETCH(QByteArray, named);
        QVERIFY2(UnprivilegedMayRun(PARVELLO_CLI), PARVELLO_UNREACHABLE_AS_NOBODY(PARVELLO_CLI));
        TempFolder folder, tmp;
        const QByteArray root = QFile::encodeName(folder.root());
        QByteArray command =
            "TMPDIR=" + QFile::encodeName(tmp.root()) + " bash -c '" + limit +
            "; exec \"$0\" \"$@\"' " PARVELLO_CLI " --rule remove-double --check --jobs 3 " + list;
        QByteArray expected;
        for (const QString name : {"a.txt", "b.txt", "c.txt"}) {
            command += ' ' + QFile::encodeName(folder.write(name, "\"q\"\n"));
            expected += QFile::encodeName(folder.path(name)) + ": 2 quote(s) would change\n";
        }
        command += " >" + root + "/out 2>" + root + "/err";
        const int status = RunUnprivileged([&] {
            const int result = std::system(command.constData());
            return WIFEXITED(result) ? WEXITSTATUS(result) : 254;
        });
        QCOMPARE(ReadBytes(folder.path("err")), named);
        QCOMPARE(status, 1); // the files would change
        QCOMPARE(ReadBytes(folder.path("out")), expected);
        QVERIFY(QDir(tmp.root()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }
#endif

    // 100,000 one-line files, in place, through the cli (in batches, as a shell passes
    // them) and each checked afterwards; a broken one among them stays untouched.
    void hundredThousandFiles() {
        if (!Heavy())
            QSKIP("set PARVELLO_HEAVY_TESTS=1 to run");
        constexpr int count = 100000;
        TempFolder folder;
        QStringList paths;
        paths.reserve(count);
        for (int i = 0; i < count; ++i)
            paths << folder.write(QStringLiteral("%1.txt").arg(i),
                                  i == count / 2 ? QByteArray("\"\0", 2)
                                                 : QStringLiteral("\"%1\"").arg(i).toLatin1());
        int untouchedRuns = 0;
        for (qsizetype from = 0; from < paths.size(); from += 10000) {
            const Run run = Cli(QStringList{"--rule", "remove-double", "--in-place", "--"} +
                                    paths.mid(from, 10000),
                                600000);
            QVERIFY(run.status == 0 || run.status == 1);
            untouchedRuns += run.status;
        }
        QCOMPARE(untouchedRuns, 1);
        QCOMPARE(folder.entries().size(), count);
        for (int i = 0; i < count; ++i) {
            const QByteArray expected =
                i == count / 2 ? QByteArray("\"\0", 2) : QByteArray::number(i) + "\r\n";
            QVERIFY2(ReadBytes(paths[i]) == expected, qPrintable(paths[i]));
        }
    }

    // A file of 1 GiB (lines of 64 bytes) through the cli into another folder; the
    // result is checked chunk by chunk and the cli's peak memory is reported.
    void oneGibibyteFile() {
        if (!Heavy())
            QSKIP("set PARVELLO_HEAVY_TESTS=1 to run");
        const QByteArray line = "He said \"yes\", \x93twice\x94 and 'no' ..........x\r\n";
        const QByteArray kept =
            QByteArray(line).replace('"', "").replace('\x93', "").replace('\x94', "");
        const qint64 lines = (qint64(1) << 30) / line.size() + 1;
        TempFolder in, out;
        const QString source = in.path("big.txt");
        {
            QFile file(source);
            QVERIFY(file.open(QIODevice::WriteOnly));
            const QByteArray block = line.repeated(1 << 14);
            qint64 left = lines;
            while (left > 0) {
                const qint64 n = std::min<qint64>(left, 1 << 14);
                QCOMPARE(file.write(block.constData(), n * line.size()), n * line.size());
                left -= n;
            }
        }
        const Run run = Cli({"--rule", "remove-double", "--out", out.root(), source}, 1800000);
        QCOMPARE(run.status, 0);
#ifdef Q_OS_UNIX
        rusage usage{};
        ::getrusage(RUSAGE_CHILDREN, &usage);
        qInfo("parvello-cli peak memory for %lld bytes: %ld MiB", qlonglong(lines * line.size()),
              usage.ru_maxrss / 1024);
#endif
        const auto check = [&](const QString& path, const QByteArray& each) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.size(), lines * each.size());
            const QByteArray block = each.repeated(1 << 14);
            qint64 left = lines;
            while (left > 0) {
                const qint64 n = std::min<qint64>(left, 1 << 14);
                QVERIFY(file.read(n * each.size()) == block.left(n * each.size()));
                left -= n;
            }
        };
        check(out.path("big.txt"), kept);
        check(source, line);
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_badinput.moc"
