// The writers over real files: the bytes of each encoding, pieces against appends, the code
// pages taken, refusals in the system's words, and what a replaced file keeps. Plain C++ over
// the engine: it runs on Linux and, built for Windows, under Wine, where what only POSIX can
// show (permission bits, owners, the mask for new files, links, pipes) is skipped with its
// reason. The boxes the window shows for these failures are tested in tests/app.
#include "common/plainfiles.h"
#include "common/plaintest.h"
#include "common/unprivileged.h"
#include "textio/codepage.h"
#include "textio/writing.h"

#include <chrono>
#include <memory>

#if defined(PARVELLO_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace parvello;
using namespace parvello::testing;

namespace {

#if defined(PARVELLO_OS_UNIX)
ino_t inodeOf(const fs::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}
#endif

TextPieces pieces(const std::vector<std::u16string>& list) {
    return [list](PieceSink& sink) {
        for (const std::u16string& piece : list)
            if (!sink.append(piece))
                return false;
        return true;
    };
}

// One piece of a file written piece by piece: the first replaces the file, each later one
// is appended, as the window's text-stream writer hands them on.
WriteOutcome writePiece(const fs::path& path, int number, OutputEncoding encoding,
                        std::u16string_view text) {
    if (number > 1)
        return AppendOutput(path, encoding, text);
    return WriteOutput(path, encoding, pieces({std::u16string(text)}));
}

} // namespace

PLAIN_TEST_DATA(utf8WriterBytes) {
    plaintest::addColumn<std::u16string>("text");
    plaintest::addColumn<std::string>("bytes");
    plaintest::newRow("empty text: the mark alone")
        << std::u16string() << std::string("\xEF\xBB\xBF");
    plaintest::newRow("written as given") << std::u16string(u"\u201Ca\u201D\r\n\n")
                                          << std::string("\xEF\xBB\xBF\xE2\x80\x9C"
                                                         "a\xE2\x80\x9D\r\n\n");
}
PLAIN_TEST(utf8WriterBytes) {
    FETCH(std::u16string, text);
    FETCH(std::string, bytes);
    TempFolder folder;
    const fs::path path = folder.write("out.txt", "an older and longer content");
    const WriteOutcome outcome = WriteOutput(path, OutputEncoding::Utf8WithMark, pieces({text}));
    COMPARE(outcome.result, WriteResult::Written);
    COMPARE(ReadBytes(path), bytes);
    VERIFY(!outcome.failure);
}

// Pieces appended one call at a time, and the whole file written with one open, give the
// same bytes; the mark comes once.
PLAIN_TEST_DATA(piecesAndAppendsAgree) {
    plaintest::addColumn<OutputEncoding>("encoding");
    plaintest::addColumn<std::string>("bytes");
    plaintest::newRow("code page") << OutputEncoding::CodePage << std::string("a\x93\r\nb\r\n\r\n");
    plaintest::newRow("UTF-16 LE")
        << OutputEncoding::Utf16LE << std::string("\xFF\xFE") + Utf16LE(u"a\u201C\r\nb\r\n\r\n");
    plaintest::newRow("UTF-8 without mark")
        << OutputEncoding::Utf8 << std::string("a\xE2\x80\x9C\r\nb\r\n\r\n");
}
PLAIN_TEST(piecesAndAppendsAgree) {
    FETCH(OutputEncoding, encoding);
    FETCH(std::string, bytes);
    const std::vector<std::u16string> list = {u"a\u201C\r\n", u"b\r\n", u"\r\n"};
    TempFolder folder;
    const fs::path appended = folder.write("appended", "old");
    for (size_t i = 0; i < list.size(); ++i) {
        const WriteOutcome outcome = writePiece(appended, int(i) + 1, encoding, list[i]);
        COMPARE(outcome.result, WriteResult::Written);
        VERIFY(!outcome.failure);
    }
    COMPARE(ReadBytes(appended), bytes);
    const fs::path whole = folder.path("whole");
    const WriteOutcome outcome = WriteOutput(whole, encoding, pieces(list));
    COMPARE(outcome.result, WriteResult::Written);
    COMPARE(ReadBytes(whole), bytes);
    VERIFY(!outcome.failure);
}

// The code pages taken are the stateless single-byte ones, found by trying the codec. In
// each, every byte comes back as itself, the undefined and the doubly mapped ones too.
PLAIN_TEST_DATA(codePages) {
    plaintest::addColumn<std::string>("name");
    plaintest::addColumn<bool>("taken");
    for (const char* name :
         {"IBM437", "ISO-8859-7", "ibm-874"}) // ibm-874: 0xA0 and 0xE8 are U+0E48
        plaintest::newRow(name) << std::string(name) << true;
    for (const char* name :
         {"ISO-2022-JP", "Shift_JIS", "UTF-8", "UTF-16LE", "GB18030", "EUC-KR", "UTF-7",
          "HZ-GB-2312", "x11-compound-text", "BOCU-1", "no such code page"})
        plaintest::newRow(name) << std::string(name) << false;
}
PLAIN_TEST(codePages) {
    FETCH(std::string, name);
    FETCH(bool, taken);
    std::unique_ptr<CodePage> page;
    try {
        page = CodePage::forName(name);
    } catch (const FileError& failure) {
        if (taken)
            COMPARE(failure.description(), "a code page that is taken");
        return;
    }
    VERIFY(taken);
    char bytes[256], back[256];
    char16_t units[256];
    for (int b = 0; b < 256; ++b)
        bytes[b] = char(b);
    page->decode(bytes, 256, units);
    COMPARE(page->encode(units, 256, back), std::ptrdiff_t(-1));
    COMPARE(std::string(back, 256), std::string(bytes, 256));
}

// A piece appended to what cannot take it is refused before anything is written, in the
// system's words where the system refused it.
PLAIN_TEST_DATA(appendRefusals) {
    plaintest::addColumn<std::string>("kind");
    plaintest::addColumn<int>("problem");
    plaintest::addColumn<std::string>("reason");
    const int denied = int(FileProblem::Denied);
    using S = std::string;
    plaintest::newRow("read-only") << S("read-only") << denied << S("it is read-only");
    plaintest::newRow("pipe") << S("pipe") << denied
                              << S("it is a pipe, socket or device, not a file");
#if defined(PARVELLO_OS_WINDOWS)
    plaintest::newRow("folder") << S("folder") << denied << S("Access denied.");
#else
    plaintest::newRow("folder") << S("folder") << denied << S("Is a directory");
#endif
    plaintest::newRow("no folder")
        << S("no folder") << int(FileProblem::PathNotFound) << S("No such file or directory");
}
PLAIN_TEST(appendRefusals) {
    FETCH(std::string, kind);
    FETCH(int, problem);
    FETCH(std::string, reason);
    TempFolder folder;
    fs::path path = folder.path("f");
    if (kind == "read-only") {
        fs::permissions(folder.write("f", "old"), fs::perms::owner_read);
    } else if (kind == "pipe") {
#if defined(PARVELLO_OS_UNIX)
        COMPARE(::mkfifo(path.c_str(), 0600), 0);
#else
        SKIP("a named pipe in a folder is a POSIX file; Windows has none");
#endif
    } else if (kind == "folder") {
        VERIFY(fs::create_directory(path));
    } else {
        path = folder.path("missing/f");
    }
    const WriteOutcome outcome = AppendOutput(path, OutputEncoding::Utf16LE, u"x");
    COMPARE(outcome.result, WriteResult::Failed);
    COMPARE(outcome.failure.step, FileStep::OpenOutput);
    COMPARE(int(outcome.failure.problem), problem);
    COMPARE(outcome.failure.reason, reason);
    if (kind == "read-only")
        COMPARE(ReadBytes(path), "old");
}

// A character outside the code page is never written as "?": the file stays as it was and no
// temporary file is left behind.
PLAIN_TEST(cannotHoldLeavesTheFileUntouched) {
    TempFolder folder;
    const fs::path path = folder.write("f", "original\r\n");
    const WriteOutcome outcome =
        WriteOutput(path, OutputEncoding::CodePage, pieces({u"fine\r\n", u"\u2605\r\n"}));
    COMPARE(outcome.result, WriteResult::CannotHold);
    COMPARE(ReadBytes(path), "original\r\n");
    COMPARE(folder.entries(), std::vector<std::string>{"f"});
    VERIFY(!outcome.failure);
    COMPARE(
        WriteOutput(path, OutputEncoding::Utf8WithMark, pieces({std::u16string(1, 0xD800)})).result,
        WriteResult::CannotHold);
    COMPARE(ReadBytes(path), "original\r\n");
}

// Attribute based, so it holds for root too; refused once, at the open.
PLAIN_TEST(readOnlyTargetIsRefused) {
    TempFolder folder;
    const fs::path path = folder.write("ro.txt", "keep");
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    const WriteOutcome outcome = WriteOutput(path, OutputEncoding::CodePage, pieces({u"new"}));
    COMPARE(outcome.result, WriteResult::Failed);
    COMPARE(outcome.failure.step, FileStep::OpenOutput);
    COMPARE(ReadBytes(path), "keep");
    COMPARE(folder.entries(), std::vector<std::string>{"ro.txt"});
}

PLAIN_TEST(missingFolderIsReportedOnce) {
    TempFolder folder;
    const WriteOutcome outcome =
        WriteOutput(folder.path("no/such/f"), OutputEncoding::Utf8WithMark, pieces({u"x"}));
    COMPARE(outcome.result, WriteResult::Failed);
    COMPARE(outcome.failure.step, FileStep::OpenOutput);
    COMPARE(outcome.failure.problem, FileProblem::PathNotFound);
}

#if defined(PARVELLO_OS_UNIX)
PLAIN_TEST(unwritableFolderIsReported) {
    TempFolder folder;
    const fs::path sub = folder.path("locked");
    VERIFY(fs::create_directory(sub));
    fs::permissions(sub, fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                            fs::perms::others_write));
    const int status = RunUnprivileged([&] {
        const WriteOutcome outcome =
            WriteOutput(sub / "f", OutputEncoding::CodePage, pieces({u"x"}));
        return outcome.result == WriteResult::Failed && outcome.failure ? 0 : 1;
    });
    COMPARE(status, 0);
    VERIFY(!fs::exists(sub / "f"));
}

PLAIN_TEST(replacingKeepsModeAndOwner) {
    if (!RunningAsRoot())
        SKIP("giving a file to another owner needs root");
    TempFolder folder;
    const fs::path path = folder.write("owned", "old");
    const char* native = path.c_str();
    COMPARE(::chown(native, NobodyId, NobodyId), 0);
    COMPARE(::chmod(native, 02640), 0);
    COMPARE(WriteOutput(path, OutputEncoding::CodePage, pieces({u"new"})).result,
            WriteResult::Written);
    struct stat status {};
    COMPARE(::stat(native, &status), 0);
    COMPARE(status.st_uid, NobodyId);
    COMPARE(status.st_gid, NobodyId);
    COMPARE(status.st_mode & 07777, 02640u);
    COMPARE(ReadBytes(path), "new");
}

// A replaced file keeps its permission bits whatever the process's mask for new files takes
// away, also when the mask changes during the run (the file is then made with fewer bits than
// the writer expected, as under a folder's default access list).
PLAIN_TEST_DATA(replacingKeepsPermissionBits) {
    plaintest::addColumn<unsigned>("bits");
    plaintest::addColumn<unsigned>("mask");
    plaintest::newRow("0666, mask 022") << 0666u << 022u;
    plaintest::newRow("0640, mask 077") << 0640u << 077u;
    plaintest::newRow("0604, no mask") << 0604u << 0u;
    plaintest::newRow("0777, mask 0777") << 0777u << 0777u;
}
PLAIN_TEST(replacingKeepsPermissionBits) {
    FETCH(unsigned, bits);
    FETCH(unsigned, mask);
    TempFolder folder;
    const fs::path first = folder.write("first", "old");
    COMPARE(WriteOutput(first, OutputEncoding::CodePage, pieces({u"new"})).result,
            WriteResult::Written);
    const fs::path path = folder.write("file", "old");
    COMPARE(::chmod(path.c_str(), mode_t(bits)), 0);
    const mode_t before = ::umask(mode_t(mask));
    const WriteResult result = WriteOutput(path, OutputEncoding::CodePage, pieces({u"new"})).result;
    ::umask(before);
    COMPARE(result, WriteResult::Written);
    struct stat status {};
    COMPARE(::stat(path.c_str(), &status), 0);
    COMPARE(status.st_mode & 07777, bits);
    COMPARE(ReadBytes(path), "new");
}

PLAIN_TEST(symbolicLinkStaysALink) {
    TempFolder folder;
    const fs::path target = folder.write("target", "old");
    const fs::path link = folder.path("link");
    fs::create_symlink(target, link);
    COMPARE(WriteOutput(link, OutputEncoding::Utf8WithMark, pieces({u"new"})).result,
            WriteResult::Written);
    VERIFY(fs::is_symlink(link));
    COMPARE(ReadBytes(target), "\xEF\xBB\xBFnew");
    COMPARE(folder.entries(), (std::vector<std::string>{"link", "target"}));
}
#else
PLAIN_TEST_DATA(onPosixOnly) {
    plaintest::addColumn<std::string>("why");
    using S = std::string;
    plaintest::newRow("unwritableFolderIsReported")
        << S("a folder closed to writing by its permission bits, for a user they stop, is "
             "POSIX's; Wine runs every user as the folder's owner");
    plaintest::newRow("replacingKeepsModeAndOwner") << S("owners and set-group bits are POSIX's");
    plaintest::newRow("replacingKeepsPermissionBits")
        << S("permission bits and the mask for new files are POSIX's; the attributes a "
             "Windows file keeps are tested in tst_atomicfile");
    plaintest::newRow("symbolicLinkStaysALink")
        << S("Wine makes no symbolic links: a link kept as a link is for Linux and real "
             "Windows to show");
}
PLAIN_TEST(onPosixOnly) {
    FETCH(std::string, why);
    SKIP(why);
}
#endif

// The same bytes again: not written, so the file keeps its time stamp and identity.
PLAIN_TEST(identicalResultIsNotWritten) {
    TempFolder folder;
    const fs::path path = folder.write("same", "a\r\nb\r\n");
    const auto past = std::chrono::time_point_cast<std::chrono::seconds>(
        fs::file_time_type::clock::now() - std::chrono::hours(72));
    fs::last_write_time(path, past);
#if defined(PARVELLO_OS_UNIX)
    const ino_t inode = inodeOf(path);
#endif
    COMPARE(WriteOutput(path, OutputEncoding::CodePage, pieces({u"a\r\n", u"b\r\n"})).result,
            WriteResult::Unchanged);
    VERIFY(fs::last_write_time(path) == past);
#if defined(PARVELLO_OS_UNIX)
    COMPARE(inodeOf(path), inode);
#endif
    // One byte more or less is a change.
    COMPARE(WriteOutput(path, OutputEncoding::CodePage, pieces({u"a\r\n", u"b\r"})).result,
            WriteResult::Written);
    COMPARE(WriteOutput(path, OutputEncoding::CodePage, pieces({u"a\r\n", u"b\r\n"})).result,
            WriteResult::Written);
    COMPARE(folder.entries(), std::vector<std::string>{"same"});
}
