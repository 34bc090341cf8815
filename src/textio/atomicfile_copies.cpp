// Where AtomicFile copies instead of renaming: a result written into its target itself
// (copyIntoTarget), and the backup of a file a result replaces (keepBackup: a hard link made
// right before the replace, or a copy where a link cannot serve).
#include "textio/atomicfile.h"

#include "base/filestatus.h"
#include "textio/atomicfile_unix.h"
#include "textio/extendedattributes.h"
#include "textio/leftovers.h"
#include "textio/writebehind.h"

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#endif

#if defined(PARVELLO_OS_UNIX)

namespace parvello {

using namespace atomicfile_unix;

// Copies the complete result from the private temporary file into the target, which must
// still be the file expected, unchanged. Room for a longer result is asked for first, so
// that a full disk or the file size limit fails before the target's first byte changes.
bool AtomicFile::copyIntoTarget(const std::function<void()>& beforeWriting) {
    if (beforeWriting)
        beforeWriting();
    const int out = ::open(target_.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (out < 0) {
        fail(errno);
        return false;
    }
    const FileStatus now = FileStatus::Of(out);
    const FileStatus result = now.exists() ? FileStatus::Of(fd_) : FileStatus();
    if (!now.exists() || !result.exists() || !(FileIdentity::Of(now) == expectedTarget_)) {
        ::close(out);
        changed_ = true;
        error_ = "it changed while it was being processed";
        return false;
    }
    const off_t total = result.size;
    if (total > now.size) {
        struct rlimit limit {};
        if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
            rlim_t(total) > limit.rlim_cur) {
            ::close(out);
            fail(EFBIG);
            return false;
        }
#if defined(PARVELLO_OS_LINUX)
        if (::fallocate(out, FALLOC_FL_KEEP_SIZE, 0, total) != 0 && errno != EOPNOTSUPP &&
            errno != ENOSYS) {
            const int number = errno;
            ::close(out);
            fail(number);
            return false;
        }
#endif
    }
    const auto cut = [&](int number) {
        ::close(out);
        fail(number);
        error_ += "; the file may now hold only part of its result";
        return false;
    };
    constexpr std::ptrdiff_t Piece = 1 << 18;
    const PooledBuffer buffer(Piece);
    for (off_t at = 0; at < total;) {
        const ssize_t got =
            ::pread(fd_, buffer.data(), size_t(std::min<off_t>(Piece, total - at)), at);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            return cut(got < 0 ? errno : EIO);
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(out, buffer.data() + done, size_t(got - done), at + done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return cut(put < 0 ? errno : EIO);
            done += put;
        }
        at += got;
    }
    if (::ftruncate(out, total) != 0 || syncToDisk(out) != 0)
        return cut(errno);
    if (::close(out) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

void AtomicFile::keepBackup(const std::filesystem::path& backup, const FileIdentity& expected) {
    backup_ = backup;
    backupOf_ = expected;
}

namespace {

// Whether a hard link was refused because the file system (or its rules for links to other
// users' files) allows none here: the backup is then a copy.
bool linkRefused(int error) {
    return error == EPERM || error == EOPNOTSUPP || error == EMLINK || error == ENOSYS;
}

// A copy refused because the target is no longer the file expected.
constexpr int NotTheTarget = -1;

} // namespace

// Copies the target, which must still be the file expected, to a new file `name` with its
// owner (where the system allows), permission bits, extended attributes and access list,
// flushed to the disk. 0, EEXIST where the name is taken, NotTheTarget, or the error number.
int AtomicFile::copyTargetTo(const std::string& name) {
    const int in = ::open(target_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0)
        return errno;
    if (!(FileIdentity::Of(FileStatus::Of(in)) == backupOf_)) {
        ::close(in);
        return NotTheTarget;
    }
    const int out = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    constexpr std::ptrdiff_t Piece = 1 << 18;
    const PooledBuffer buffer(Piece);
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), Piece);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            error = got < 0 ? errno : 0;
            break;
        }
        if ((error = WriteAll(out, buffer.data(), got)) != 0)
            break;
    }
    ::close(in);
    // Its owner where the system allows it, then its bits: a copy gives no one more access.
    if (error == 0 && ::fchown(out, backupOf_.owner, backupOf_.group) != 0) {
        // Kept by the user who makes it, with the original's bits.
    }
    if (error == 0 && ::fchmod(out, mode_t(backupOf_.mode & 0777)) != 0)
        error = errno;
#if defined(PARVELLO_OS_LINUX)
    if (error == 0) {
        std::string attributes = CopyExtendedAttributes(target_, out);
        if (!attributes.empty()) {
            ::close(out);
            ::unlink(name.c_str());
            error_ = std::move(attributes);
            return EPERM;
        }
    }
#endif
    if (error == 0 && syncToDisk(out) != 0)
        error = errno;
    if (::close(out) != 0 && error == 0)
        error = errno;
    if (error != 0)
        ::unlink(name.c_str());
    return error;
}

// Makes the backup of the target (see keepBackup): a hard link, or a copy, under a temporary
// name beside it, then renamed over the backup's name.
bool AtomicFile::makeBackup(bool copyOnly) {
    const std::string& target = target_.native();
    const std::string& backup = backup_.native();
    error_.clear();
    const auto failed = [this](int number) {
        error_ = "its backup could not be made: " +
                 (error_.empty() ? std::generic_category().message(number) : error_);
        return false;
    };
    // A copy's temporary name must be able to go again (by the rename).
    if (copyOnly && folderAppendOnly(AT_FDCWD, folderOf(backup).c_str())) {
        error_ = "its folder is append-only";
        return failed(0);
    }
    bool copy = copyOnly;
    std::string temporary;
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        temporary = TemporaryTextBeside(backup_);
        error = 0;
        if (!copy && ::linkat(AT_FDCWD, target.c_str(), AT_FDCWD, temporary.c_str(), 0) != 0) {
            error = errno;
            copy = linkRefused(error);
        }
        if (copy && (error == 0 || linkRefused(error)))
            error = copyTargetTo(temporary);
    }
    if (error == 0 && !copy && !linkLeadsToBackedUpFile(temporary)) {
        ::unlink(temporary.c_str());
        error = NotTheTarget;
    }
    if (error == NotTheTarget) {
        changed_ = true;
        error_ = "it changed while it was being processed";
        return false;
    }
    if (error != 0)
        return failed(error);
    if (::rename(temporary.c_str(), backup.c_str()) != 0) {
        error = errno;
        ::unlink(temporary.c_str());
        return failed(error);
    }
    return true;
}

} // namespace parvello

#endif
