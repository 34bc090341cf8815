#include "textio/atomicfile.h"

#include "base/filestatus.h"
#include "textio/atomicfile_unix.h"
#include "textio/bufferpool.h"
#include "textio/extendedattributes.h"
#include "textio/leftovers.h"
#include "textio/signals.h"
#include "textio/writebehind.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvello {

namespace atomicfile_unix {
std::atomic<int> slowDisk{0};
} // namespace atomicfile_unix
using atomicfile_unix::slowDisk;

namespace {

std::atomic<bool> hookSet{false};

std::function<void(const std::filesystem::path&)>& beforeReplaceHook() {
    static std::function<void(const std::filesystem::path&)> hook;
    return hook;
}

} // namespace

void AtomicFile::SetBeforeReplaceHook(
    std::function<void(const std::filesystem::path& target)> hook) {
    hookSet = bool(hook);
    beforeReplaceHook() = std::move(hook);
}

void AtomicFile::SetSlowDiskForTests(int milliseconds) {
    slowDisk = milliseconds;
}

bool AtomicFile::checkStillSafe(const std::function<bool()>& stillSafe) {
    if (hookSet && !std::exchange(hookRan_, true))
        beforeReplaceHook()(target_);
    if (!stillSafe || stillSafe())
        return true;
    changed_ = true;
    error_ = "it changed while it was being processed";
    cancel();
    return false;
}

void AtomicFile::fail(int number) {
    error_ = std::generic_category().message(number);
}

bool AtomicFile::write(const char* data, std::int64_t n) {
#if defined(PARVELLO_OS_UNIX)
    statusKnown_ = false;
#endif
    if (!behind_ && !behindRefused_ && WriteBehindWorthwhile(written_)) {
        try {
            behind_ = std::make_unique<WriteBehind>(fd_);
        } catch (const std::exception&) {
            // No thread (or no memory) to spare: this file's writes are made here instead.
            behindRefused_ = true;
        }
    }
    written_ += n;
    if (behind_) {
        if (behind_->put(data, n))
            return true;
        fail(behind_->error());
        return false;
    }
    if (const int error = WriteAll(fd_, data, n)) {
        fail(error);
        return false;
    }
    return true;
}

// Waits for the writes still on their way and ends the thread that makes them.
template <class Wait> auto AtomicFile::waiting(Wait&& wait) {
    // A small file is done long before a window would need to answer: no thread for it.
    constexpr std::int64_t LargeFile = 1 << 20;
    if (!whileWaiting_ || written_ < LargeFile)
        return wait();
    std::future<decltype(wait())> done = std::async(std::launch::async, std::forward<Wait>(wait));
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready)
        whileWaiting_();
    return done.get();
}

bool AtomicFile::finishWrites() {
    if (!behind_)
        return true;
    const bool written = waiting([this] { return behind_->finish(); });
    const int error = behind_->error();
    behind_.reset();
    if (!written)
        fail(error);
    return written;
}

// What commit() does first on every system: forgets what the last commit told, finishes
// the writes and, for a result written into its target itself, does the whole commit.
// Returns the commit's result when it is over, nothing when the replace is next.
std::optional<bool> AtomicFile::startCommit(const std::function<bool()>& stillSafe,
                                            const std::function<void()>& beforeWriting) {
    changed_ = false;
    hookRan_ = false;
    renamed_ = false;
    folderFlushed_ = false;
    if (!finishWrites()) {
        cancel();
        return false;
    }
    if (!intoTarget_)
        return std::nullopt;
    if (!checkStillSafe(stillSafe))
        return false;
    // The file's own bytes are about to change: a link would see the new ones.
    if (!backup_.empty() && !makeBackup(true)) {
        cancel();
        return false;
    }
    const bool copied = copyIntoTarget(beforeWriting);
    cancel();
    return copied;
}

// Whether a new link made for a backup leads to the file the backup is for: only its count
// of names and its status time, which the link itself changes, may differ.
bool AtomicFile::linkLeadsToBackedUpFile(const std::filesystem::path& link) const {
    FileIdentity now = FileIdentity::Of(FileStatus::Of(link, Links::DoNotFollow));
    now.changed[0] = backupOf_.changed[0];
    now.changed[1] = backupOf_.changed[1];
    now.links = backupOf_.links;
    return now == backupOf_;
}

bool AtomicFile::flushWaiting(const std::function<bool()>& flush) {
    return waiting(flush);
}

#if defined(PARVELLO_OS_UNIX)

namespace atomicfile_unix {

std::string folderOf(const std::string& target) {
    const size_t slash = target.rfind('/');
    return slash == std::string::npos ? std::string(".")
           : slash == 0               ? std::string("/")
                                      : target.substr(0, slash);
}

// A file larger than the process may write (ulimit -f) is a failed write like any other, not
// the end of the program: the signal that would end it is ignored, unless the program handles
// it itself, and the write then fails with EFBIG.
void ignoreFileSizeSignal() {
    static const bool ignored = (IgnoreSignalUnlessHandled(SIGXFSZ), true);
    (void)ignored;
}

// Whether names in the folder may be added but neither replaced nor removed (the append-only
// attribute): a rename over a file there would fail after its temporary file had been named,
// and that name could not be removed again.
bool folderAppendOnly(int folder, const char* name) {
#if defined(PARVELLO_OS_LINUX) && defined(STATX_ATTR_APPEND)
    return FileStatus::At(folder, name, Links::Follow, Attributes::Read).appendOnly;
#else
    (void)folder;
    (void)name;
    return false;
#endif
}

} // namespace atomicfile_unix

using namespace atomicfile_unix;

namespace {

// Six letters or digits for a temporary name.
std::atomic<bool> unnamedAllowed{true};

#ifdef O_TMPFILE
// Whether a file without a name can be given one later, through /proc (looked up once).
bool canNameUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can && unnamedAllowed;
}
#endif

// The folder for temporary files: TMPDIR where it is set, else /tmp (without a trailing
// separator, as the window's library gives it).
std::string temporaryPath() {
    const char* const set = std::getenv("TMPDIR");
    std::string folder = set && *set ? set : "/tmp";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

// The process's mask of permission bits for new files, read once without changing it (the
// umask call would change it for a moment, for every thread); -1 when the system cannot tell.
int processMask() {
#if defined(PARVELLO_OS_LINUX)
    static const int mask = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("Umask:", 0) == 0) {
                const char* const digits = line.c_str() + 6;
                char* end = nullptr;
                const long value = std::strtol(digits, &end, 8);
                return end != digits ? int(value) : -1;
            }
        return -1;
    }();
    return mask;
#else
    return -1;
#endif
}

} // namespace

void AtomicFile::AllowUnnamedFiles(bool allowed) {
    unnamedAllowed = allowed;
}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    cancel();
}

bool AtomicFile::open(bool targetExists, unsigned permissionBits) {
    cancel();
    written_ = 0;
    behindRefused_ = false;
    syncNeedless_ = false;
    memoryKnown_ = false;
    statusKnown_ = false;
    folderRefused_ = false;
    intoTarget_ = false;
    targetExisted_ = targetExists;
    ignoreFileSizeSignal();
    const std::string folder = folderOf(target_.native());
    openFolder();
    if (targetExists && folderAppendOnly(folderHandle(), folder_ >= 0 ? "" : folder.c_str())) {
        folderRefused_ = true;
        error_ = "its folder is append-only: files may be added there, not replaced";
        return false;
    }
    RemoveLeftoversBeside(target_);
#ifdef O_TMPFILE
    // Where the system has them, a file without a name in the target's folder: a run that
    // is killed leaves nothing behind.
    if (canNameUnnamedFiles()) {
        const int fd =
            ::openat(folderHandle(), folder_ >= 0 ? "." : folder.c_str(),
                     O_TMPFILE | O_WRONLY | O_CLOEXEC, creationMode(targetExists, permissionBits));
        if (fd >= 0) {
            fd_ = fd;
            unnamed_ = true;
            return givePermissionBits(targetExists, permissionBits);
        }
        // Otherwise a named one, whose failure is the one reported.
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryTextBeside(target_);
        const int fd =
            ::openat(folderHandle(), inFolder(name), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                     creationMode(targetExists, permissionBits));
        if (fd >= 0) {
            fd_ = fd;
            temporaryName_ = std::move(name);
            return givePermissionBits(targetExists, permissionBits);
        }
        if (errno != EEXIST) {
            folderRefused_ = errno == EACCES || errno == EPERM;
            fail(errno);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

bool AtomicFile::openToWriteInto(const FileIdentity& expected) {
    cancel();
    written_ = 0;
    behindRefused_ = false;
    syncNeedless_ = false;
    memoryKnown_ = false;
    statusKnown_ = false;
    folderRefused_ = false;
    intoTarget_ = true;
    targetExisted_ = true;
    expectedTarget_ = expected;
    ignoreFileSizeSignal();
    return openPrivate();
}

// The private temporary file of a result that is copied into its target: readable and
// writable by this user only, and never left behind, since it has no name, or loses it at
// once.
bool AtomicFile::openPrivate() {
    const std::string temporaryFolder = temporaryPath();
#ifdef O_TMPFILE
    for (const std::string& place : {folderOf(target_.native()), temporaryFolder}) {
        const int fd = ::open(place.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        if (fd >= 0) {
            fd_ = fd;
            return true;
        }
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path name = TemporaryNameBeside(temporaryFolder + "/x");
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::unlink(name.c_str());
            fd_ = fd;
            return true;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

unsigned AtomicFile::creationMode(bool targetExists, unsigned permissionBits) {
    return targetExists ? permissionBits & 0777 : 0666;
}

bool AtomicFile::givePermissionBits(bool targetExists, unsigned permissionBits) {
    // The file was made with the bits; they need setting again only where the process's
    // mask took some away.
    const int mask = processMask();
    if (!targetExists || (mask >= 0 && (permissionBits & 0777 & unsigned(mask)) == 0) ||
        ::fchmod(fd_, mode_t(permissionBits & 0777)) == 0)
        return true;
    const int number = errno;
    cancel();
    fail(number);
    return false;
}

// Gives the open file without a name the name given (in the open folder `folder`, or
// AT_FDCWD); 0, or the error number.
int linkUnnamed(int fd, const std::string& proc, int folder, const char* name) {
    // Straight from the handle where the process may (it needs a capability that root
    // has), else through /proc. Which of the two works is found out once.
    static std::atomic<int> fromHandle{-1}; // unknown, no, yes
    if (fromHandle != 0) {
        if (::linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) {
            fromHandle = 1;
            return 0;
        }
        if (errno != ENOENT && errno != EPERM)
            return errno;
        if (fromHandle == -1)
            fromHandle = 0;
    }
    return ::linkat(AT_FDCWD, proc.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

bool AtomicFile::nameUnnamedFile() {
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    unnamed_ = false;
    // A new target gets its name in one step, unless a file of that name turned up since.
    if (!targetExisted_) {
        const int error = linkUnnamed(fd_, proc, folderHandle(), inFolder(target_.native()));
        if (error == 0)
            return true;
        if (error != EEXIST) {
            fail(error);
            return false;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TemporaryTextBeside(target_);
        const int error = linkUnnamed(fd_, proc, folderHandle(), inFolder(name));
        if (error == 0) {
            temporaryName_ = std::move(name);
            return true;
        }
        if (error != EEXIST) {
            fail(error);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

bool AtomicFile::rewind() {
    written_ = 0;
    if (!finishWrites())
        return false;
    if (::ftruncate(fd_, 0) == 0 && ::lseek(fd_, 0, SEEK_SET) == 0)
        return true;
    fail(errno);
    return false;
}

int AtomicFile::handle() const {
    return fd_;
}

bool AtomicFile::mayShareFlush() {
    return fd_ >= 0 && !behind_ && !intoTarget_ && !flushesNothing();
}

bool AtomicFile::flushesNothing() {
#if defined(PARVELLO_OS_LINUX)
    if (!memoryKnown_ && fd_ >= 0)
        resultStatus();
#endif
    // A flush made slow for the tests is a flush all the same.
    return syncNeedless_ && !slowDisk.load();
}

const FileStatus& AtomicFile::resultStatus() {
    if (!statusKnown_ && fd_ >= 0) {
        status_ = FileStatus::Of(fd_);
        statusKnown_ = true;
        if (status_.exists())
            onDevice(status_.id.device);
    } else if (fd_ < 0) {
        status_ = FileStatus();
    }
    return status_;
}

void AtomicFile::onDevice(unsigned long long device) {
#if defined(PARVELLO_OS_LINUX)
    syncNeedless_ = fd_ >= 0 && memoryOnly(fd_, device);
    memoryKnown_ = fd_ >= 0;
#else
    (void)device;
#endif
}

bool AtomicFile::commit(const std::function<bool()>& stillSafe,
                        const std::function<void()>& beforeWriting) {
    const bool flushed = std::exchange(flushedAlready_, false);
    if (const std::optional<bool> done = startCommit(stillSafe, beforeWriting))
        return *done;
    // A file system that cannot sync is no reason to fail: the rename still replaces at once.
    if ((!syncNeedless_ || slowDisk.load()) && !flushed)
        (void)waiting([fd = fd_] {
            if (const int delay = slowDisk.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            return syncToDisk(fd);
        });
    if (unnamed_) {
        // A new target may take its name in this one step: the last moment to check.
        if (!targetExisted_ && !checkStillSafe(stillSafe))
            return false;
        if (!nameUnnamedFile()) {
            cancel();
            return false;
        }
        if (temporaryName_.empty()) { // it took the target's name directly
            ::close(fd_);
            fd_ = -1;
            closeFolder();
            renamed_ = true;
            if (!flushed)
                flushFolder();
            return true;
        }
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed == 0 && !checkStillSafe(stillSafe))
        return false;
    if (closed == 0 && !backup_.empty() && !makeBackup(false)) {
        cancel();
        return false;
    }
    if (closed != 0 || ::renameat(folderHandle(), inFolder(temporaryName_), folderHandle(),
                                  inFolder(target_.native())) != 0) {
        fail(errno);
        cancel();
        return false;
    }
    temporaryName_.clear();
    closeFolder();
    renamed_ = true;
    if (!flushed)
        flushFolder();
    return true;
}

// The new name made durable, for a result that made its own flush: the folder is flushed
// as the data was, waiting on a thread for a large file (see whileWaiting).
void AtomicFile::flushFolder() {
    folderFlushed_ = !syncNeedless_ || slowDisk.load();
    if (!folderFlushed_)
        return;
    (void)waiting([folder = folderOf(target_.native())] {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            (void)::fsync(fd); // as with the file's own flush, a failure is no reason to fail
            ::close(fd);
        }
        return 0;
    });
}

void AtomicFile::cancel() {
    behind_.reset(); // what it had still to write goes with the file
    statusKnown_ = false;
    if (fd_ >= 0)
        ::close(fd_); // a file without a name is gone with it
    fd_ = -1;
    unnamed_ = false;
    if (!temporaryName_.empty())
        ::unlinkat(folderHandle(), inFolder(temporaryName_), 0);
    temporaryName_.clear();
    closeFolder();
}

// The target's folder, opened once for the steps of one replace (see folder_), unless one
// was lent. Where it cannot be opened so, each step takes the whole path, as the system finds
// it then.
void AtomicFile::openFolder() {
    closeFolder();
    if (lentFolder_ < 0)
        ownFolder_ = OpenFolder(target_);
    folder_ = lentFolder_ >= 0 ? lentFolder_ : ownFolder_.handle();
}

void AtomicFile::closeFolder() {
    ownFolder_ = OpenFolder();
    folder_ = -1;
}

int AtomicFile::folderHandle() const {
    return FolderToLook(folder_);
}

// A path beside the target as the name to give with folderHandle().
const char* AtomicFile::inFolder(const std::string& path) const {
    return NameToLook(folder_, path);
}

FileIdentity AtomicFile::identityAtTarget() const {
    return FileIdentity::Of(
        FileStatus::At(folderHandle(), inFolder(target_.native()), Links::DoNotFollow));
}

#endif

} // namespace parvello
