// The temporary file that replaces a target in one step: the target is replaced only at
// commit, with the permission bits (on Windows the attributes) it had, and no temporary file
// is ever left behind. Real files, no Qt: it runs on Linux and, built for Windows, under Wine.
// PARVELLO_NAMED_TEMPORARY set: on Linux every test with a named temporary file instead of
// one that has no name until the commit.
#include "base/filestatus.h"
#include "common/plaintest.h"
#include "common/unprivileged.h"
#include "textio/atomicfile.h"
#include "textio/fileerror.h"
#include "textio/readonlyfile.h"
#include "textio/writebehind.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if defined(PARVELLO_OS_UNIX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include <windows.h>
#endif

using namespace parvello;
using namespace parvello::testing;
namespace fs = std::filesystem;

namespace {

long long processId() {
#if defined(PARVELLO_OS_WINDOWS)
    return GetCurrentProcessId();
#else
    return ::getpid();
#endif
}

const bool named = [] {
    const bool set = std::getenv("PARVELLO_NAMED_TEMPORARY") != nullptr;
    AtomicFile::AllowUnnamedFiles(!set);
    return set;
}();

// Whether the temporary file shows in its folder while it is written.
bool namedWhileWriting() {
#if defined(PARVELLO_OS_LINUX)
    return named;
#else
    return true;
#endif
}

// A fresh folder that every user may enter and write (so a part of a test running as an
// unprivileged user reaches its files), removed with what it holds.
class Folder {
public:
    Folder() {
        static int made = 0;
        root_ = fs::temp_directory_path() /
                ("tst_atomicfile-" + std::to_string(processId()) + '-' + std::to_string(++made));
        fs::remove_all(root_);
        fs::create_directories(root_);
        fs::permissions(root_, fs::perms::all);
    }
    ~Folder() {
        std::error_code ignored;
        for (fs::recursive_directory_iterator entry(root_, ignored), end; !ignored && entry != end;
             entry.increment(ignored))
            fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }
    fs::path path(const std::string& name) const { return root_ / name; }
    fs::path write(const std::string& name, const std::string& bytes) const {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    // The names in the folder, sorted, separated by spaces.
    std::string entries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(root_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        std::string all;
        for (const std::string& name : names)
            all += (all.empty() ? "" : " ") + name;
        return all;
    }
    std::size_t count() const {
        return std::size_t(std::distance(fs::directory_iterator(root_), fs::directory_iterator()));
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

std::string readBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<unreadable>";
}

} // namespace

PLAIN_TEST(newTarget) {
    Folder folder;
    const fs::path target = folder.path("new.txt");
    AtomicFile file(target);
    VERIFY(file.open(false, 0));
    VERIFY(file.write("abc", 3));
    VERIFY(!fs::exists(target)); // nothing shows before the commit
    COMPARE(folder.count(), namedWhileWriting() ? 1 : 0);
    VERIFY(file.commit());
    COMPARE(readBytes(target), "abc");
    COMPARE(folder.entries(), "new.txt");
#if defined(PARVELLO_OS_UNIX)
    // The bits of any new file: 0666 less the process's mask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    COMPARE(FileStatus::Of(target).mode, unsigned(0666 & ~mask));
#endif
}

PLAIN_TEST(replacesTargetKeepingItsBits) {
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
#if defined(PARVELLO_OS_UNIX)
    COMPARE(::chmod(target.c_str(), 0640), 0);
#endif
    const FileId before = FileStatus::Of(target).id;
    AtomicFile file(target);
    VERIFY(file.open(true, 0640));
    VERIFY(file.write("new bytes", 9));
    COMPARE(readBytes(target), "old");
    COMPARE(folder.count(), namedWhileWriting() ? 2 : 1);
    VERIFY(file.commit());
    COMPARE(readBytes(target), "new bytes");
    COMPARE(folder.entries(), "t.txt");
    VERIFY(FileStatus::Of(target).id != before); // a new file took the old one's place
#if defined(PARVELLO_OS_UNIX)
    COMPARE(FileStatus::Of(target).mode, 0640u);
#endif
}

// Writes of every size around the blocks that go out behind, a rewind among them: the
// target holds exactly the writes after the rewind, in order, whether each went out at
// once or behind on a thread of its own.
PLAIN_TEST_DATA(writesInOrder) {
    plaintest::addColumn<bool>("behind");
    plaintest::newRow("at once") << false;
    plaintest::newRow("written behind") << true;
}
PLAIN_TEST(writesInOrder) {
    FETCH(bool, behind);
    ForceWriteBehindForTests(behind);
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    AtomicFile file(target);
    std::string expected;
    bool written = file.open(true, 0644);
    for (int round = 0; round < 2 && written; ++round) {
        written = round == 0 || file.rewind();
        expected.clear();
        for (const std::size_t size : {1, 7, 4096, 300000, 1, 262144, 70000, 524288, 3}) {
            std::string piece(size, '\0');
            for (std::size_t i = 0; i < size; ++i)
                piece[i] = char((expected.size() + i) * 131 % 251 + round);
            written = written && file.write(piece.data(), std::int64_t(size));
            expected += piece;
        }
    }
    written = written && file.commit();
    ForceWriteBehindForTests(false);
    VERIFY(written);
    COMPARE(folder.entries(), "t.txt");
    VERIFY(readBytes(target) == expected);
}

#if defined(PARVELLO_OS_UNIX)
// A user at the system's limit of processes has no thread to spare for writing behind:
// the writes are then made at once, and all of them arrive.
PLAIN_TEST(writesWithoutAThreadToSpare) {
    Folder folder;
    const fs::path target = folder.path("t.txt");
    const std::string bytes(3 << 19, 'q');
    const auto atTheLimit = [&] {
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NPROC, &none) != 0)
            return 3;
        try {
            std::thread([] {}).join();
            return 4; // the limit holds nobody back here
        } catch (const std::system_error&) {
        }
        ForceWriteBehindForTests(true);
        AtomicFile file(target);
        return file.open(false, 0) && file.write(bytes.data(), std::int64_t(bytes.size())) &&
                       file.write("end", 3) && file.commit()
                   ? 0
                   : 1;
    };
    // In a child of its own (the limit stays with it), as a user the limit holds.
    const int status = RunUnprivileged([&] {
        const pid_t child = ::fork();
        if (child == 0) {
            try {
                ::_exit(atTheLimit());
            } catch (...) {
                ::_exit(5);
            }
        }
        int result = 0;
        return ::waitpid(child, &result, 0) == child && WIFEXITED(result) ? WEXITSTATUS(result) : 2;
    });
    COMPARE(status, 0);
    VERIFY(readBytes(target) == bytes + "end");
}

// A result larger than the process may write (ulimit -f) is a failed write, not the end
// of the program; the target stays as it was and nothing is left beside it, whether the
// result was to be renamed over the target or written into it.
PLAIN_TEST_DATA(fileSizeLimitFailsCleanly) {
    plaintest::addColumn<bool>("into");
    plaintest::newRow("renamed over the target") << false;
    plaintest::newRow("written into the target") << true;
}
PLAIN_TEST(fileSizeLimitFailsCleanly) {
    FETCH(bool, into);
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    const pid_t child = ::fork();
    if (child == 0) {
        const rlimit small{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
            ::_exit(3);
        AtomicFile file(target);
        const std::string bytes(8192, 'q');
        const bool opened =
            into ? file.openToWriteInto(FileIdentity::AtName(target)) : file.open(true, 0644);
        if (!opened)
            ::_exit(4);
        // The write fails, or (written into) the commit, before the target changes.
        const bool written = file.write(bytes.data(), std::int64_t(bytes.size())) && file.commit();
        const bool named = file.errorString().find("too large") != std::string::npos;
        file.cancel(); // as the writer does on a failure
        ::_exit(!written && named ? 0 : 1);
    }
    int result = 0;
    COMPARE(::waitpid(child, &result, 0), child);
    VERIFY(WIFEXITED(result));
    COMPARE(WEXITSTATUS(result), 0);
    COMPARE(readBytes(target), "old");
    COMPARE(folder.entries(), "t.txt");
}
#endif

PLAIN_TEST(cancelledOrAbandonedLeavesTargetAlone) {
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    {
        AtomicFile file(target);
        VERIFY(file.open(true, 0644));
        VERIFY(file.write("x", 1));
        file.cancel();
        COMPARE(folder.entries(), "t.txt");
    }
    {
        AtomicFile file(target);
        VERIFY(file.open(true, 0644));
        VERIFY(file.write("x", 1));
    } // gone without a commit
    COMPARE(folder.entries(), "t.txt");
    COMPARE(readBytes(target), "old");
}

// A commit that cannot move the file over its target reports why and cleans up.
PLAIN_TEST(failedCommitLeavesNoTemporaryFile) {
    Folder folder;
    const fs::path target = folder.path("busy");
    AtomicFile file(target);
    VERIFY(file.open(false, 0));
    VERIFY(file.write("x", 1));
    // The target turns into a folder with something in it meanwhile.
    VERIFY(fs::create_directory(target));
    folder.write("busy/inner", "keep");
    VERIFY(!file.commit());
    VERIFY(!file.errorString().empty());
    COMPARE(folder.entries(), "busy");
    COMPARE(readBytes(folder.path("busy/inner")), "keep");
}

PLAIN_TEST(missingFolderFails) {
    Folder folder;
    AtomicFile file(folder.path("missing/t.txt"));
    VERIFY(!file.open(false, 0));
    VERIFY(!file.errorString().empty());
}

// Results flushed together (one flush per file system, or on Windows each file on its own)
// replace their targets without a flush of their own.
PLAIN_TEST(flushedTogether) {
    Folder folder;
    AtomicFile first(folder.path("a.txt")), second(folder.path("b.txt"));
    VERIFY(first.open(false, 0) && first.write("a", 1) && second.open(false, 0) &&
           second.write("b", 1));
    VERIFY(FlushTogether({first.handle(), second.handle()}));
    first.flushedAlready();
    second.flushedAlready();
    VERIFY(first.commit() && second.commit());
    FlushFolders({folder.root()});
    COMPARE(readBytes(folder.path("a.txt")) + readBytes(folder.path("b.txt")), "ab");
}

#if defined(PARVELLO_OS_UNIX)
// An unprivileged user names the finished file the way open to everyone.
PLAIN_TEST(unprivilegedUserWrites) {
    Folder folder;
    const fs::path existing = folder.write("old.txt", "old");
    COMPARE(::chmod(existing.c_str(), 0666), 0);
    const int status = RunUnprivileged([&] {
        AtomicFile created(folder.path("new.txt"));
        if (!created.open(false, 0) || !created.write("new", 3) || !created.commit())
            return 1;
        AtomicFile replaced(existing);
        if (!replaced.open(true, 0666) || !replaced.write("newer", 5) || !replaced.commit())
            return 2;
        return 0;
    });
    COMPARE(status, 0);
    COMPARE(readBytes(folder.path("new.txt")), "new");
    COMPARE(readBytes(existing), "newer");
    COMPARE(folder.entries(), "new.txt old.txt");
}

// Leftovers of a run that is gone are removed only when they are the running user's:
// another user's file of such a name is theirs, though root could remove it.
PLAIN_TEST(leftoversOfOtherUsersAreSpared) {
    if (!RunningAsRoot())
        SKIP("needs root to give a file to another user");
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    COMPARE(::waitpid(gone, nullptr, 0), gone);
    Folder folder;
    const std::string prefix = ".~pv" + std::to_string(gone) + '-';
    folder.write(prefix + "Mine12", "mine");
    const fs::path theirs = folder.write(prefix + "Theirs", "theirs");
    COMPARE(::chown(theirs.c_str(), NobodyId, NobodyId), 0);
    AtomicFile file(folder.path("t.txt"));
    VERIFY(file.open(false, 0));
    file.cancel();
    COMPARE(folder.entries(), prefix + "Theirs");
}

// A folder that the user may not write: no temporary file, the system's reason.
PLAIN_TEST(unwritableFolderFails) {
    Folder folder;
    VERIFY(fs::create_directory(folder.path("locked")));
    const fs::path target = folder.write("locked/t.txt", "old");
    COMPARE(::chmod(target.c_str(), 0666), 0);
    COMPARE(::chmod(folder.path("locked").c_str(), 0555), 0);
    const int status = RunUnprivileged([&] {
        AtomicFile file(target);
        if (file.open(true, 0666))
            return 1;
        return file.errorString() == "Permission denied" ? 0 : 2;
    });
    COMPARE(status, 0);
    std::string names;
    for (const auto& entry : fs::directory_iterator(folder.path("locked")))
        names += entry.path().filename().string() + ' ';
    COMPARE(names, "t.txt ");
    COMPARE(::chmod(folder.path("locked").c_str(), 0755), 0);
}

// Names that are not UTF-8 reach the system as they are: the result replaces that very
// file and is read back through it, and a missing one is named with its own bytes.
PLAIN_TEST(namesKeepTheirBytes) {
    Folder folder;
    const std::string at = folder.root().native() + '/';
    for (const std::string name : {"plain.txt", "caf\xC3\xA9.txt", "bad\xFF\xFE.txt"}) {
        const fs::path target = at + name;
        const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        VERIFY(fd >= 0 && ::write(fd, "old", 3) == 3 && ::close(fd) == 0);
        AtomicFile file(target);
        VERIFY(file.open(true, 0644) && file.write("new", 3) && file.commit());
        ReadOnlyFile read(target);
        char bytes[8] = {};
        VERIFY(read.open() && read.read(bytes, 8) == 3);
        COMPARE(std::string(bytes, 3), "new");
        VERIFY(FileStatus::Of(read.linkFreePath()).id == FileStatus::Of(target).id);
        try {
            ThrowOpenFailure("unused", at + "missing-" + name);
        } catch (const FileError& failure) {
            COMPARE(failure.problem(), FileProblem::FileNotFound);
            COMPARE(failure.description(), "File not found: " + at + "missing-" + name);
        }
    }
    // Nothing else was left there (a listing that converts names would trip on the last).
    int entries = 0;
    DIR* dir = ::opendir(at.c_str());
    while (const dirent* entry = dir ? ::readdir(dir) : nullptr)
        entries += entry->d_name[0] != '.';
    if (dir)
        ::closedir(dir);
    COMPARE(entries, 3);
}
#endif

// A temporary file left by a run that was killed (its process is gone) is removed by the next
// run that writes in its folder; one of a run still going on, and names not ours, stay.
PLAIN_TEST(leftoversOfAKilledRunAreRemoved) {
#if defined(PARVELLO_OS_UNIX)
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    COMPARE(::waitpid(gone, nullptr, 0), gone);
#else
    const long long gone = 999999999; // no process has an id this high
#endif
    Folder folder;
    const std::string running = ".~pv" + std::to_string(processId()) + "-Going1";
    folder.write(".~pv" + std::to_string(gone) + "-Killed", "left");
    folder.write(running, "in use");
    folder.write(".~pvnot-ours1", "another's");
    AtomicFile file(folder.path("t.txt"));
    VERIFY(file.open(false, 0) && file.write("new", 3) && file.commit());
    COMPARE(folder.entries(), running + " .~pvnot-ours1 t.txt");
}

// The file a result replaces is kept under the backup's name (a hard link, or a copy where the
// result is written into the file itself), and only while it is still the file expected.
PLAIN_TEST_DATA(keepsBackup) {
    plaintest::addColumn<bool>("into");
    plaintest::addColumn<bool>("changed");
    for (const bool into : {false, true})
        for (const bool changed : {false, true})
            plaintest::addRow("%s%s", into ? "written into" : "renamed over",
                              changed ? ", changed meanwhile" : "")
                << into << changed;
}
PLAIN_TEST(keepsBackup) {
    FETCH(bool, into);
    FETCH(bool, changed);
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    folder.write("t.txt~", "an older backup");
    const FileIdentity expected = FileIdentity::AtName(target);
    VERIFY(expected.known);
    if (changed)
        AtomicFile::SetBeforeReplaceHook([&](const fs::path&) { folder.write("t.txt", "other"); });
    AtomicFile file(target);
    bool committed = into ? file.openToWriteInto(expected) : file.open(true, 0644);
    file.keepBackup(folder.path("t.txt~"), expected);
    committed = committed && file.write("new", 3) && file.commit();
    AtomicFile::SetBeforeReplaceHook({});
    COMPARE(committed, !changed);
    COMPARE(file.changedMeanwhile(), changed);
    COMPARE(readBytes(target), changed ? "other" : "new");
    COMPARE(readBytes(folder.path("t.txt~")), changed ? "an older backup" : "old");
    COMPARE(folder.entries(), "t.txt t.txt~");
}

// A path of 260 characters or more (past the old limit of Windows) is written like any other.
PLAIN_TEST(longPaths) {
    Folder folder;
    fs::path deep = folder.root();
    for (char level = 'a'; deep.native().size() < 300; ++level) {
        deep /= std::string(40, level);
#if defined(PARVELLO_OS_WINDOWS)
        VERIFY(CreateDirectoryW((L"\\\\?\\" + fs::absolute(deep).native()).c_str(), nullptr));
#else
        VERIFY(fs::create_directory(deep));
#endif
    }
    const fs::path target = deep / "t.txt";
    for (const char* bytes : {"old", "new"}) {
        AtomicFile file(target);
        VERIFY(file.open(bytes[0] == 'n', 0644));
        if (bytes[0] == 'n')
            file.keepBackup(deep / "t.txt~", FileIdentity::AtName(target));
        VERIFY(file.write(bytes, 3) && file.commit());
    }
    std::string read;
    for (const char* name : {"t.txt", "t.txt~"}) {
        ReadOnlyFile file(deep / name);
        char got[4] = {};
        read += file.open() && file.read(got, 4) == 3 ? std::string(got, 3) : "?";
    }
#if defined(PARVELLO_OS_WINDOWS)
    // The library's own removal stops at the old limit.
    for (const char* name : {"t.txt", "t.txt~"})
        DeleteFileW((L"\\\\?\\" + fs::absolute(deep / name).native()).c_str());
    for (; deep != folder.root(); deep = deep.parent_path())
        RemoveDirectoryW((L"\\\\?\\" + fs::absolute(deep).native()).c_str());
#endif
    COMPARE(read, "newold");
}

#if defined(PARVELLO_OS_WINDOWS)
// Wine plays Windows on another kernel: what only the real system can judge is skipped there.
bool underWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The result keeps the hidden, system and archive attributes of the file it replaces; a
// read-only file is refused at the commit and stays as it was, as the system's own rename
// refuses it (Wine's MoveFileExW would replace it).
PLAIN_TEST(keepsAttributesRefusesReadOnly) {
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
    VERIFY(SetFileAttributesW(target.c_str(), kept));
    AtomicFile file(target);
    VERIFY(file.open(true, 0) && file.write("new", 3) && file.commit());
    COMPARE(readBytes(target), "new");
    COMPARE(GetFileAttributesW(target.c_str()) & (kept | FILE_ATTRIBUTE_READONLY), kept);
    VERIFY(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
    for (const bool into : {false, true}) {
        VERIFY(into ? file.openToWriteInto(FileIdentity::AtName(target)) : file.open(true, 0));
        VERIFY(file.write("newer", 5));
        VERIFY(!file.commit());
        VERIFY(!file.errorString().empty());
        COMPARE(readBytes(target), "new");
        COMPARE(folder.entries(), "t.txt");
    }
}

// What Wine cannot show, since it plays Windows on another kernel, is judged on real Windows.
PLAIN_TEST_DATA(onRealWindowsOnly) {
    plaintest::addColumn<int>("which");
    plaintest::addColumn<std::string>("why");
    plaintest::newRow("atomic replace")
        << 0
        << std::string("under Wine a rename is not one step of the system's: whether a program "
                       "holding the old file keeps it while the name changes hands in one "
                       "step is for real Windows to show");
    plaintest::newRow("read-only as an administrator")
        << 1
        << std::string("Wine's MoveFileExW replaces a read-only file: that the system refuses "
                       "it to anyone, as the commit does, is for real Windows to show");
    plaintest::newRow("260-character limit")
        << 2
        << std::string("Wine has no 260-character limit: that a long path needs its prefix "
                       "is for real Windows to show");
}
PLAIN_TEST(onRealWindowsOnly) {
    FETCH(int, which);
    FETCH(std::string, why);
    if (underWine())
        SKIP(why);
    Folder folder;
    const fs::path target = folder.write("t.txt", "old");
    if (which == 0) {
        const HANDLE reader = CreateFileW(target.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        AtomicFile file(target);
        const bool committed = file.open(true, 0) && file.write("new", 3) && file.commit();
        char got[4] = {};
        DWORD n = 0;
        const bool read = ReadFile(reader, got, 4, &n, nullptr);
        CloseHandle(reader);
        VERIFY(committed && read);
        COMPARE(std::string(got, n), "old");
        COMPARE(readBytes(target), "new");
    } else if (which == 1) {
        const fs::path other = folder.write("other.txt", "other");
        VERIFY(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY));
        VERIFY(!MoveFileExW(other.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
        COMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    } else {
        using Enabled = BOOLEAN(WINAPI*)();
        const auto enabled = reinterpret_cast<Enabled>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "RtlAreLongPathsEnabled")));
        if (enabled && enabled())
            SKIP("this system has long paths enabled: it has no 260-character limit");
        const fs::path deep = folder.root() / std::string(250, 'd');
        VERIFY(CreateDirectoryW((L"\\\\?\\" + fs::absolute(deep).native()).c_str(), nullptr));
        VERIFY(GetFileAttributesW((deep / "t.txt").c_str()) == INVALID_FILE_ATTRIBUTES);
        AtomicFile file(deep / "t.txt");
        VERIFY(file.open(false, 0) && file.write("new", 3) && file.commit());
        VERIFY(GetFileAttributesW((deep / "t.txt").c_str()) == INVALID_FILE_ATTRIBUTES);
        const std::wstring prefixed = L"\\\\?\\" + fs::absolute(deep).native();
        VERIFY(DeleteFileW((prefixed + L"\\t.txt").c_str()) && RemoveDirectoryW(prefixed.c_str()));
    }
}
#endif
