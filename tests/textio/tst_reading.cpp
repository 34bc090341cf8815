// The engine's reader over real files: the mark table, each road's decoding and line
// splitting, text that is not text, sequences cut by reads, short files around the mark,
// files it cannot read, and the working buffers of several threads. Plain C++ over the
// engine: it runs on Linux and, built for Windows, under Wine. The window's line readers,
// with their boxes, are tested in tests/app/tst_linereaders.
#include "common/plainfiles.h"
#include "common/plaintest.h"
#include "common/unprivileged.h"
#include "textio/bufferpool.h"
#include "textio/codepage.h"
#include "textio/reading.h"
#include "textio/readingrows.h"

#include <cstring>
#include <future>
#include <thread>
#include <vector>

using namespace parvello;
using namespace parvello::testing;

namespace {

// Every line of lines, decoded.
std::vector<std::u16string> linesOf(const LineArray& lines) {
    std::vector<std::u16string> list;
    for (std::ptrdiff_t i = 0; i < lines.size(); ++i) {
        if (!lines.inBytes) {
            list.emplace_back(lines[i]);
        } else if (lines.format == SourceFormat::CodePage) {
            const std::string_view line = lines.byteLine(i);
            std::u16string decoded(line.size(), u'\0');
            CodePage::ansi().decode(line.data(), std::ptrdiff_t(line.size()), decoded.data());
            list.push_back(decoded);
        } else {
            list.push_back(U16(lines.byteLine(i)));
        }
    }
    return list;
}

void addRows(const std::vector<ReadingRow>& rows) {
    plaintest::addColumn<std::string>("bytes");
    plaintest::addColumn<std::vector<std::u16string>>("lines");
    plaintest::addColumn<SourceFormat>("format");
    for (const ReadingRow& row : rows)
        plaintest::newRow(row.name) << row.bytes << row.lines << row.format;
}

} // namespace

// The mark table, in its order and with its length conditions.
PLAIN_TEST_DATA(marks) {
    plaintest::addColumn<std::string>("bytes");
    plaintest::addColumn<bool>("unicode");
    plaintest::addColumn<bool>("utf8");
    using S = std::string;
    plaintest::newRow("empty") << S() << false << false;
    plaintest::newRow("one byte FF") << S("\xFF") << false << false;
    plaintest::newRow("EF BB only") << S("\xEF\xBB") << false << false;
    plaintest::newRow("UTF-8 mark alone") << S("\xEF\xBB\xBF") << false << true;
    plaintest::newRow("UTF-16 LE") << S("\xFF\xFE"
                                        "a")
                                   << true << false;
    plaintest::newRow("FF FE 00: three bytes, so UTF-16") << S("\xFF\xFE\x00", 3) << true << false;
    plaintest::newRow("UTF-32 LE") << S("\xFF\xFE\x00\x00", 4) << true << false;
    plaintest::newRow("UTF-32 BE") << S("\x00\x00\xFE\xFF", 4) << true << false;
    plaintest::newRow("00 00 FE: too short for UTF-32") << S("\x00\x00\xFE", 3) << false << false;
    plaintest::newRow("UTF-16 BE") << S("\xFE\xFF") << true << false;
    plaintest::newRow("plain text") << S("abcd") << false << false;
}
PLAIN_TEST(marks) {
    FETCH(std::string, bytes);
    FETCH(bool, unicode);
    FETCH(bool, utf8);
    TempFolder folder;
    bool fileIsUtf8 = true;
    COMPARE(IsFileUnicode(folder.write("f", bytes), fileIsUtf8), unicode);
    COMPARE(fileIsUtf8, utf8);
}

// Each road's decoding and line splitting.
PLAIN_TEST_DATA(lines) {
    addRows(LinesRows());
}
PLAIN_TEST(lines) {
    FETCH(std::string, bytes);
    FETCH(std::vector<std::u16string>, lines);
    FETCH(SourceFormat, format);
    TempFolder folder;
    const fs::path path = folder.write("f", bytes);
    // Decoded, and left in bytes where the encoding allows it: the same lines.
    const bool bytesPossible = format == SourceFormat::CodePage || format == SourceFormat::Utf8 ||
                               format == SourceFormat::Utf8WithMark;
    for (const LineForm form : {LineForm::Text, LineForm::Bytes}) {
        const LineArray read = ReadWholeLines(path, form);
        COMPARE(read.status, ReadStatus::Read);
        COMPARE(linesOf(read), lines);
        COMPARE(read.format, format);
        COMPARE(read.inBytes, form == LineForm::Bytes && bytesPossible);
    }
}

// Bytes that do not decode in the encoding they claim, and binary data.
PLAIN_TEST_DATA(notText) {
    addRows(NotTextRows());
}
PLAIN_TEST(notText) {
    FETCH(std::string, bytes);
    TempFolder folder;
    const fs::path path = folder.write("f", bytes);
    const LineArray decoded = ReadWholeLines(path, LineForm::Text);
    const LineArray undecoded = ReadWholeLines(path, LineForm::Bytes);
    for (const LineArray* read : {&decoded, &undecoded}) {
        COMPARE(read->status, ReadStatus::NotText);
        VERIFY(!read->problem.empty());
        COMPARE(linesOf(*read), std::vector<std::u16string>{u""});
    }
    COMPARE(undecoded.problem, decoded.problem);
}

// Multi-byte sequences that straddle two reads decode like any other.
PLAIN_TEST(sequencesAcrossReads) {
    TempFolder folder;
    std::string bytes(LoadChunkSize - 1, 'x');
    bytes += "\xE2\x80\x9C|";
    std::string marked = "\xEF\xBB\xBF" + bytes;
    marked.pop_back();
    marked += "\xF0\x9F\x98"; // a four-byte sequence cut off by the end of the file
    const LineArray plain = ReadWholeLines(folder.write("plain", bytes));
    COMPARE(plain.format, SourceFormat::Utf8);
    COMPARE(plain.text.substr(plain.text.size() - 2), u"\u201C|");
    COMPARE(plain.text.size(), LoadChunkSize + 1);
    COMPARE(ReadWholeLines(folder.write("cut", marked)).status, ReadStatus::NotText);
    // The same without decoding: the check goes on across reads.
    const LineArray plainBytes = ReadWholeLines(folder.path("plain"), LineForm::Bytes);
    COMPARE(plainBytes.format, SourceFormat::Utf8);
    VERIFY(plainBytes.inBytes);
    COMPARE(plainBytes.bytes, bytes);
    COMPARE(ReadWholeLines(folder.path("cut"), LineForm::Bytes).status, ReadStatus::NotText);
    marked.resize(marked.size() - 3);
    marked += "\xE2\x80\x9D";
    const LineArray markedBytes = ReadWholeLines(folder.write("marked", marked), LineForm::Bytes);
    COMPARE(markedBytes.status, ReadStatus::Read);
    COMPARE(markedBytes.byteLine(0), std::string_view(marked).substr(3));
}

// A file that cannot be read gives one empty line, read as nothing: a missing file, a
// folder, and (on POSIX, for a user whom permissions stop) a file without read permission.
PLAIN_TEST_DATA(notReadGivesOneEmptyLine) {
    plaintest::addColumn<std::string>("what");
    for (const char* what : {"missing", "folder", "unreadable"})
        plaintest::newRow(what) << std::string(what);
}
PLAIN_TEST(notReadGivesOneEmptyLine) {
    FETCH(std::string, what);
    TempFolder folder;
    fs::path path = folder.path("missing.txt");
    if (what == "folder")
        path = folder.root();
    if (what == "unreadable") {
#if defined(PARVELLO_OS_WINDOWS)
        SKIP("a file without read permission is POSIX's; on Windows a file another program "
             "shares with no one stands for it (tst_fileengine unreadableSourceIsNeverWritten)");
#endif
        path = folder.write("secret.txt", "a \"b\"\r\n");
        fs::permissions(path, fs::perms::none);
    }
    const int status = RunUnprivileged([&] {
        const LineArray read = ReadWholeLines(path);
        return read.status == ReadStatus::NotRead &&
                       linesOf(read) == std::vector<std::u16string>{u""} && !read.fileIsUtf8
                   ? 0
                   : 1;
    });
    COMPARE(status, 0);
}

PLAIN_TEST_DATA(shortFilesAroundTheMark) {
    addRows(ShortRows());
}
PLAIN_TEST(shortFilesAroundTheMark) {
    FETCH(std::string, bytes);
    FETCH(std::vector<std::u16string>, lines);
    TempFolder folder;
    const LineArray read = ReadWholeLines(folder.write("f", bytes));
    COMPARE(read.status, ReadStatus::Read);
    COMPARE(linesOf(read), lines);
}

#if defined(PARVELLO_OS_LINUX)
// Asked on its own, the mark test keeps no file open; a read closes what it opened.
PLAIN_TEST(noFileStaysOpen) {
    const auto openFiles = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
    };
    TempFolder folder;
    const fs::path path = folder.write("f", "abc\r\n");
    const auto before = openFiles();
    bool utf8 = false;
    VERIFY(!IsFileUnicode(path, utf8));
    COMPARE(openFiles(), before);
    ReadWholeLines(path);
    COMPARE(openFiles(), before);
}
#else
PLAIN_TEST(noFileStaysOpen) {
    SKIP("the process's open files are counted in /proc/self/fd, which only Linux has");
}
#endif

// The working buffers of files on several threads at once, of every size the engine asks for
// and one beyond a piece of the pool: no two ever share a byte, given back or not.
PLAIN_TEST(pooledBuffersNeverOverlap) {
    const auto work = [](int thread) {
        bool apart = true;
        for (int round = 0; round < 40; ++round) {
            std::vector<PooledBuffer> held;
            std::vector<std::ptrdiff_t> sizes;
            for (const std::ptrdiff_t size :
                 {std::ptrdiff_t(1), std::ptrdiff_t(262160), std::ptrdiff_t(4100),
                  std::ptrdiff_t(1) << 20, (std::ptrdiff_t(5) << 20) + 1}) {
                if ((round + int(size)) % 3 == 0)
                    continue;
                held.emplace_back(size);
                sizes.push_back(size);
                std::memset(held.back().data(), thread * 40 + round, size_t(size));
            }
            std::this_thread::yield();
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
        VERIFY(thread.get());
}
