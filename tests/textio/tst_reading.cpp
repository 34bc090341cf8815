#include "app/linereaders.h"
#include "base/failure.h"
#include "base/qtpaths.h"
#include "common/fakeprompts.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "textio/bufferpool.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/textloader.h"

#include <QtTest>

#include <cstring>
#include <future>
#include <vector>

using namespace parvello;
using namespace parvello::testing;

Q_DECLARE_METATYPE(parvello::SourceFormat)
Q_DECLARE_METATYPE(parvello::ReadStatus)

namespace {

QString tag(const char* routine) {
    return ModuleTag(QStringLiteral("RFTSFSO"), QString::fromLatin1(routine));
}

QByteArray utf32(const char32_t* text, bool bigEndian) {
    QByteArray bytes =
        bigEndian ? QByteArray("\x00\x00\xFE\xFF", 4) : QByteArray("\xFF\xFE\x00\x00", 4);
    for (; *text; ++text)
        for (int i = 0; i < 4; ++i)
            bytes.append(char((*text >> (bigEndian ? 24 - 8 * i : 8 * i)) & 0xFF));
    return bytes;
}

} // namespace

class TestReading : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { Trap::setFaultInjector(nullptr); }

    // The mark table, in its order and with its length conditions.
    void marks_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("unicode");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("empty") << QByteArray() << false << false;
        QTest::newRow("one byte FF") << QByteArray("\xFF") << false << false;
        QTest::newRow("EF BB only") << QByteArray("\xEF\xBB") << false << false;
        QTest::newRow("UTF-8 mark alone") << QByteArray("\xEF\xBB\xBF") << false << true;
        QTest::newRow("UTF-16 LE") << QByteArray("\xFF\xFE"
                                                 "a")
                                   << true << false;
        QTest::newRow("FF FE 00: three bytes, so UTF-16")
            << QByteArray("\xFF\xFE\x00", 3) << true << false;
        QTest::newRow("UTF-32 LE") << QByteArray("\xFF\xFE\x00\x00", 4) << true << false;
        QTest::newRow("UTF-32 BE") << QByteArray("\x00\x00\xFE\xFF", 4) << true << false;
        QTest::newRow("00 00 FE: too short for UTF-32")
            << QByteArray("\x00\x00\xFE", 3) << false << false;
        QTest::newRow("UTF-16 BE") << QByteArray("\xFE\xFF") << true << false;
        QTest::newRow("plain text") << QByteArray("abcd") << false << false;
    }
    void marks() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, unicode);
        QFETCH(bool, utf8);
        TempFolder folder;
        bool fileIsUtf8 = true;
        QCOMPARE(IsFileUnicode(ToPath(folder.write("f", bytes)), fileIsUtf8), unicode);
        QCOMPARE(fileIsUtf8, utf8);
    }

    // Each road's decoding and line splitting.
    void lines_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<SourceFormat>("format");
        using L = QStringList;
        const auto cp = SourceFormat::CodePage;
        // Plain ASCII is taken for UTF-8 where the locale speaks it.
        const auto ascii = CodePage::ansi().asciiIsUtf8() ? SourceFormat::Utf8 : cp;
        QTest::newRow("empty file: one empty line") << QByteArray() << L{""} << ascii;
        QTest::newRow("code page: final CR LF adds no line")
            << QByteArray("a\r\nb\r\n") << L{"a", "b"} << ascii;
        QTest::newRow("code page: no final break") << QByteArray("a\r\nb") << L{"a", "b"} << ascii;
        QTest::newRow("code page: lone LF and lone CR end lines")
            << QByteArray("a\nb\rc\r\r\nd") << L{"a", "b", "c", "", "d"} << ascii;
        QTest::newRow("code page: only a break") << QByteArray("\r\n") << L{""} << ascii;
        QTest::newRow("windows-1252 high bytes, undefined ones included")
            << QByteArray("\x80\x81\x8D\x8F\x90\x93\x9D\xE9\xFF")
            << L{QStringLiteral("\u20AC\u0081\u008D\u008F\u0090\u201C\u009D\u00E9\u00FF")} << cp;
        QTest::newRow("mark-less UTF-8 with a curly quote")
            << QByteArray("caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D\nx")
            << L{QStringLiteral("caf\u00E9 \u201Cq\u201D"), "x"} << SourceFormat::Utf8;
        QTest::newRow("UTF-8 road: final CR LF adds no line")
            << QByteArray("\xEF\xBB\xBF"
                          "a\r\nb\r\n")
            << L{"a", "b"} << SourceFormat::Utf8WithMark;
        QTest::newRow("UTF-8 road: only a break")
            << QByteArray("\xEF\xBB\xBF\r\n") << L{""} << SourceFormat::Utf8WithMark;
        QTest::newRow("UTF-8 road: a lone LF at the end stays")
            << QByteArray("\xEF\xBB\xBF"
                          "a\r\n\n")
            << L{"a", "\n"} << SourceFormat::Utf8WithMark;
        QTest::newRow("UTF-8 road: lone LF and CR stay in the line")
            << QByteArray("\xEF\xBB\xBF"
                          "a\nb\rc")
            << L{"a\nb\rc"} << SourceFormat::Utf8WithMark;
        QTest::newRow("UTF-8 road: mark alone")
            << QByteArray("\xEF\xBB\xBF") << L{""} << SourceFormat::Utf8WithMark;
        QTest::newRow("UTF-16 LE splits like the code page")
            << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("\u201Ca\u201D\r\nb\nc\r\n"))
            << L{QStringLiteral("\u201Ca\u201D"), "b", "c"} << SourceFormat::Utf16LE;
        QTest::newRow("UTF-16 LE mark alone")
            << QByteArray("\xFF\xFE") << L{""} << SourceFormat::Utf16LE;
        QTest::newRow("UTF-16 BE by its mark")
            << QByteArray("\xFE\xFF\x00"
                          "a\x20\x1C\x00\n\xD8\x3D\xDE\x00",
                          12)
            << L{QStringLiteral("a\u201C"), QStringLiteral("\U0001F600")} << SourceFormat::Utf16BE;
        QTest::newRow("UTF-32 LE by its mark")
            << utf32(U"a\"\U0001F600\r\nb", false) << L{QStringLiteral("a\"\U0001F600"), "b"}
            << SourceFormat::Utf32LE;
        QTest::newRow("UTF-32 BE by its mark")
            << utf32(U"\u2019x", true) << L{QStringLiteral("\u2019x")} << SourceFormat::Utf32BE;
    }
    void lines() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QFETCH(SourceFormat, format);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", bytes);
        // Decoded, and left in bytes where the encoding allows it: the same lines.
        const bool bytesPossible = format == SourceFormat::CodePage ||
                                   format == SourceFormat::Utf8 ||
                                   format == SourceFormat::Utf8WithMark;
        for (const LineForm form : {LineForm::Text, LineForm::Bytes}) {
            const LineArray read = ReadFileLines(path, prompts, form);
            QCOMPARE(prompts.calls.size(), 0);
            QCOMPARE(read.status, ReadStatus::Read);
            QCOMPARE(LinesToStringList(read), lines);
            QCOMPARE(read.format, format);
            QCOMPARE(read.inBytes, form == LineForm::Bytes && bytesPossible);
        }
    }

    // Bytes that do not decode in the encoding they claim, and binary data.
    void notText_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("NUL in a mark-less file") << QByteArray("abc\0def", 7);
        QTest::newRow("invalid UTF-8 after the mark") << QByteArray("\xEF\xBB\xBF"
                                                                    "a\xC3(b");
        QTest::newRow("UTF-8 cut off at the end") << QByteArray("\xEF\xBB\xBF"
                                                                "a\xE2\x80");
        QTest::newRow("UTF-8 encoded surrogate") << QByteArray("\xEF\xBB\xBF\xED\xA0\x80");
        QTest::newRow("odd UTF-16 length") << QByteArray("\xFF\xFE"
                                                         "a\x00"
                                                         "b");
        QTest::newRow("unpaired UTF-16 surrogate") << QByteArray("\xFF\xFE\x00\xD8"
                                                                 "a\x00",
                                                                 6);
        QTest::newRow("UTF-32 beyond U+10FFFF")
            << QByteArray("\xFF\xFE\x00\x00\x00\x00\x11\x00", 8);
        QTest::newRow("UTF-32 length") << QByteArray("\x00\x00\xFE\xFF\x00\x00\x00", 7);
    }
    void notText() {
        QFETCH(QByteArray, bytes);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", bytes);
        const LineArray decoded = ReadFileLines(path, prompts, LineForm::Text);
        const LineArray undecoded = ReadFileLines(path, prompts, LineForm::Bytes);
        for (const LineArray* read : {&decoded, &undecoded}) {
            QCOMPARE(read->status, ReadStatus::NotText);
            QVERIFY(!read->problem.empty());
            QCOMPARE(LinesToStringList(*read), QStringList{""});
        }
        QCOMPARE(undecoded.problem, decoded.problem);
        QCOMPARE(prompts.calls.size(), 0);
    }

    // Multi-byte sequences that straddle two reads decode like any other.
    void sequencesAcrossReads() {
        TempFolder folder;
        FakePrompts prompts;
        QByteArray bytes(LoadChunkSize - 1, 'x');
        bytes += "\xE2\x80\x9C|";
        QByteArray marked = "\xEF\xBB\xBF" + bytes;
        marked.chop(1);
        marked += "\xF0\x9F\x98"; // a four-byte sequence cut off by the end of the file
        const LineArray plain = ReadFileLines(folder.write("plain", bytes), prompts);
        QCOMPARE(plain.format, SourceFormat::Utf8);
        QCOMPARE(QString::fromStdU16String(plain.text).right(2),
                 QStringLiteral("\u201C|"));
        QCOMPARE(qsizetype(plain.text.size()), LoadChunkSize + 1);
        QCOMPARE(ReadFileLines(folder.write("cut", marked), prompts).status,
                 ReadStatus::NotText);
        // The same without decoding: the check goes on across reads.
        const LineArray plainBytes =
            ReadFileLines(folder.path("plain"), prompts, LineForm::Bytes);
        QCOMPARE(plainBytes.format, SourceFormat::Utf8);
        QVERIFY(plainBytes.inBytes);
        QCOMPARE(QByteArray::fromStdString(plainBytes.bytes), bytes);
        QCOMPARE(ReadFileLines(folder.path("cut"), prompts, LineForm::Bytes).status,
                 ReadStatus::NotText);
        marked.chop(3);
        marked += "\xE2\x80\x9D";
        const LineArray markedBytes =
            ReadFileLines(folder.write("marked", marked), prompts, LineForm::Bytes);
        QCOMPARE(markedBytes.status, ReadStatus::Read);
        QCOMPARE(QByteArrayView(markedBytes.byteLine(0)),
                 QByteArrayView(marked).sliced(3));
    }

    void missingFileGivesOneEmptyLineAfterFourBoxes() {
        TempFolder folder;
        FakePrompts prompts;
        const LineArray read = ReadFileLines(folder.path("missing.txt"), prompts);
        QCOMPARE(read.status, ReadStatus::NotRead);
        QCOMPARE(LinesToStringList(read), QStringList{""});
        QVERIFY(!read.fileIsUtf8);
        const QStringList boxes = prompts.errorTexts();
        QCOMPARE(boxes.size(), 4);
        const QStringList where = {tag("ReadFileToStringLine") + " at line 100",
                                   tag("ReadFileToStringFSOLine") + " at line 102",
                                   tag("ReadFileToStringFSOLine") + " at line 106",
                                   tag("ReadFileToStringFSOLine") + " at line 120"};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(boxes[i].contains("\r\nin " + where[i] + "\r\r"), qPrintable(boxes[i]));
        QVERIFY(boxes[0].startsWith("File not found: "));
    }

    // A folder is no file to read, in QFile's words.
    void folderIsNotRead() {
        TempFolder folder;
        FakePrompts prompts;
        const LineArray read = ReadFileLines(folder.root(), prompts);
        QCOMPARE(read.status, ReadStatus::NotRead);
        const QStringList boxes = prompts.errorTexts();
        QVERIFY(!boxes.isEmpty());
        QVERIFY2(boxes[0].startsWith("Cannot open " + folder.root() +
                                     ": file to open is a directory\r\n"),
                 qPrintable(boxes[0]));
    }

    void unreadableFileIsNotRead() {
        TempFolder folder;
        const QString path = folder.write("secret.txt", "a \"b\"\r\n");
        QFile::setPermissions(path, QFileDevice::Permissions());
        const int status = RunUnprivileged([&] {
            FakePrompts prompts;
            const LineArray read = ReadFileLines(path, prompts);
            return read.status == ReadStatus::NotRead && prompts.errorTexts().size() == 4 ? 0 : 1;
        });
        QCOMPARE(status, 0);
    }

    // A failing end-of-stream test runs the empty-file branch; a failing ReadLine ends the
    // loop instead of repeating forever.
    void failingStepsCarryOn_data() {
        QTest::addColumn<int>("line");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("at end test") << 106 << QStringList{""};
        QTest::newRow("ReadLine") << 116 << QStringList{""};
        QTest::newRow("counter") << 118 << QStringList{"a"};
    }
    void failingStepsCarryOn() {
        QFETCH(int, line);
        QFETCH(QStringList, lines);
        TempFolder folder;
        const QString path = folder.write("f", "a\r\nb\r\n");
        FakePrompts prompts;
        Trap::setFaultInjector([line](const QString& where, int at) {
            if (where == tag("ReadFileToStringFSOLine") && at == line)
                throw Failure(QStringLiteral("Injected"));
        });
        const LineArray read = ReadFileLines(path, prompts);
        QCOMPARE(prompts.errorTexts().size(), 1);
        QCOMPARE(read.status, ReadStatus::NotRead);
        QCOMPARE(LinesToStringList(read), lines);
    }

    // The mark test's open file is the one the reader goes on with: the bytes it has
    // already taken come first, whatever the file's length around four bytes.
    void shortFilesAroundTheMark_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        using L = QStringList;
        QTest::newRow("0") << QByteArray() << L{""};
        QTest::newRow("1") << QByteArray("a") << L{"a"};
        QTest::newRow("3") << QByteArray("abc") << L{"abc"};
        QTest::newRow("4") << QByteArray("ab\r\n") << L{"ab"};
        QTest::newRow("5") << QByteArray("abcd\n") << L{"abcd"};
        QTest::newRow("UTF-8 mark, 3") << QByteArray("\xEF\xBB\xBF") << L{""};
        QTest::newRow("UTF-8 mark, 4") << QByteArray("\xEF\xBB\xBFx") << L{"x"};
        QTest::newRow("UTF-8 mark, 5") << QByteArray("\xEF\xBB\xBF\xC3\xA9") << L{"\u00E9"};
        QTest::newRow("UTF-16 LE, 4") << QByteArray("\xFF\xFEx\0", 4) << L{"x"};
        QTest::newRow("UTF-16 LE, 6") << QByteArray("\xFF\xFEx\0y\0", 6) << L{"xy"};
        QTest::newRow("UTF-16 BE, 4") << QByteArray("\xFE\xFF\0x", 4) << L{"x"};
        QTest::newRow("UTF-32 LE, 8") << QByteArray("\xFF\xFE\0\0x\0\0\0", 8) << L{"x"};
        QTest::newRow("mark-less UTF-8, 4") << QByteArray("\xE2\x80\x9C!") << L{"\u201C!"};
    }
    void shortFilesAroundTheMark() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        TempFolder folder;
        FakePrompts prompts;
        const LineArray read = ReadFileLines(folder.write("f", bytes), prompts);
        QCOMPARE(read.status, ReadStatus::Read);
        QCOMPARE(LinesToStringList(read), lines);
        QCOMPARE(prompts.calls.size(), 0);
    }

#ifdef Q_OS_LINUX
    // Asked on its own, the mark test keeps no file open; a read closes what it opened.
    void noFileStaysOpen() {
        const auto openFiles = [] {
            return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot).size();
        };
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f", "abc\r\n");
        const qsizetype before = openFiles();
        bool utf8 = false;
        QVERIFY(!IsFileUnicode(ToPath(path), utf8));
        QCOMPARE(openFiles(), before);
        ReadFileLines(path, prompts);
        QCOMPARE(openFiles(), before);
    }
#endif

    // The working buffers of files on several threads at once, of every size the engine asks
    // for and one beyond a piece of the pool: no two ever share a byte, given back or not.
    void pooledBuffersNeverOverlap() {
        const auto work = [](int thread) {
            bool apart = true;
            for (int round = 0; round < 40; ++round) {
                std::vector<PooledBuffer> held;
                std::vector<qsizetype> sizes;
                for (const qsizetype size : {qsizetype(1), qsizetype(262160), qsizetype(4100),
                                             qsizetype(1) << 20, (qsizetype(5) << 20) + 1}) {
                    if ((round + int(size)) % 3 == 0)
                        continue;
                    held.emplace_back(size);
                    sizes.push_back(size);
                    std::memset(held.back().data(), thread * 40 + round, size_t(size));
                }
                QThread::yieldCurrentThread();
                for (std::size_t i = 0; i < held.size(); ++i)
                    apart = apart && held[i].data()[0] == char(thread * 40 + round) &&
                            held[i].data()[sizes[i] - 1] == char(thread * 40 + round);
            }
            return apart;
        };
        std::vector<std::future<bool>> threads;
        for (int thread = 0; thread < 4; ++thread)
            threads.push_back(std::async(std::launch::async, work, thread));
        for (std::future<bool>& thread : threads)
            QVERIFY(thread.get());
    }
};

QTEST_GUILESS_MAIN(TestReading)
#include "tst_reading.moc"
