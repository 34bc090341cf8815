#include "textio/readonlyfile.h"

#include "base/qtpaths.h"
#include "textio/signals.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace parvello {

FileIdentity FileIdentity::Of(const FileStatus& status) {
    if (!status.exists())
        return {};
    FileIdentity identity;
    identity.known = true;
    identity.type = status.type;
    identity.mode = status.mode;
    identity.owner = status.owner;
    identity.group = status.group;
    identity.links = status.links;
    identity.device = status.id.device;
    identity.inode = status.id.inode;
    identity.size = status.size;
    identity.modified[0] = status.modified.seconds;
    identity.modified[1] = status.modified.nanoseconds;
    identity.changed[0] = status.changed.seconds;
    identity.changed[1] = status.changed.nanoseconds;
    return identity;
}

#ifdef Q_OS_UNIX

FileIdentity FileIdentity::Of(const struct stat& status) {
    return Of(FileStatus::From(status));
}

FileIdentity FileIdentity::AtName(const QString& path) {
    return Of(FileStatus::Of(ToPath(path), Links::DoNotFollow));
}

ReadOnlyFile::ReadOnlyFile(const QString& path) : path_(path) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ReadOnlyFile::open(bool followLinks) {
    const QByteArray native = QFile::encodeName(path_);
    // Without waiting: a pipe that nobody writes would otherwise hold the open for ever. Only
    // a regular file is read (a device could be endless), and that reads as usual.
    const auto openName = [&](int flags) {
        int fd = -1;
        do {
            fd = ::open(native.constData(), flags);
        } while (fd < 0 && errno == EINTR);
        return fd;
    };
    // The name is opened first without following a link at its end: where that works, the
    // name itself leads to the file, and no other name of it has to be asked for.
    const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK;
    int fd = openName(flags | O_NOFOLLOW);
    nameIsFile_ = fd >= 0;
    if (fd < 0 && followLinks && (errno == ELOOP || errno == EMLINK))
        fd = openName(flags);
    if (fd < 0) {
        error_ = qt_error_string(errno);
        return false;
    }
    status_ = FileStatus::Of(fd);
    if (!status_.isRegular()) {
        ::close(fd);
        if (status_.isFolder()) // QFile's words for it
            error_ = QCoreApplication::translate("QIODevice", "file to open is a directory");
        else if (status_.exists())
            error_ = QStringLiteral("it is a pipe, socket or device, not a file");
        else
            error_ = qt_error_string(status_.error);
        return false;
    }
    fd_ = fd;
    return true;
}

FileIdentity ReadOnlyFile::identity() const {
    return fd_ >= 0 ? FileIdentity::Of(status_) : FileIdentity();
}

QString ReadOnlyFile::linkFreePath() const {
    if (fd_ < 0)
        return {};
    // No link at the name's end: the name leads to the file, its folders resolved by the
    // system at each use.
    if (nameIsFile_)
        return path_;
#ifdef Q_OS_LINUX
    // The system's own name for the open file.
    char buffer[PATH_MAX + 1];
    const QByteArray proc = "/proc/self/fd/" + QByteArray::number(fd_);
    const ssize_t n = ::readlink(proc.constData(), buffer, sizeof buffer - 1);
    if (n > 0 && buffer[0] == '/')
        return QFile::decodeName(QByteArray(buffer, n));
#endif
    // Elsewhere, the name resolved by the system, if it still leads to the open file.
    char* resolved = ::realpath(QFile::encodeName(path_).constData(), nullptr);
    if (!resolved)
        return {};
    const QString real = QFile::decodeName(resolved);
    std::free(resolved);
    if (const FileStatus status = FileStatus::Of(ToPath(real));
        !status.exists() || status.id != status_.id)
        return {};
    return real;
}

qint64 ReadOnlyFile::read(char* data, qint64 max) {
    qint64 got = 0;
    while (got < max) {
        const ssize_t n = ::read(fd_, data + got, size_t(max - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (got > 0)
                break;
            error_ = qt_error_string(errno);
            return -1;
        }
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

namespace {

#ifdef Q_OS_LINUX
// A broken lease is announced with a signal whose default action would end the program; the
// lease's state is asked for instead, so the signal is ignored, unless the program handles
// it itself.
void ignoreLeaseSignal() {
    static const bool ignored = (IgnoreSignalUnlessHandled(SIGIO), true);
    Q_UNUSED(ignored);
}
#endif

} // namespace

ReadOnlyFile::Lease ReadOnlyFile::takeReadLease() {
#ifdef Q_OS_LINUX
    if (fd_ < 0)
        return Lease::Unavailable;
    ignoreLeaseSignal();
    if (::fcntl(fd_, F_SETLEASE, F_RDLCK) == 0) {
        leased_ = true;
        return Lease::Held;
    }
    // EAGAIN: the file is open for writing somewhere. Anything else (not the owner, a file
    // system without leases) tells nothing.
    return errno == EAGAIN ? Lease::Busy : Lease::Unavailable;
#else
    return Lease::Unavailable;
#endif
}

bool ReadOnlyFile::leaseIntact() const {
#ifdef Q_OS_LINUX
    // A lease being broken already reports what it is to become.
    return !leased_ || ::fcntl(fd_, F_GETLEASE) == F_RDLCK;
#else
    return true;
#endif
}

void ReadOnlyFile::releaseLease() {
#ifdef Q_OS_LINUX
    if (leased_)
        (void)::fcntl(fd_, F_SETLEASE, F_UNLCK);
#endif
    leased_ = false;
}

qint64 ReadOnlyFile::size() const {
    return status_.isRegular() ? qint64(status_.size) : 0;
}

bool ReadOnlyFile::rewind() {
    if (::lseek(fd_, 0, SEEK_SET) == 0)
        return true;
    error_ = qt_error_string(errno);
    return false;
}

#else

FileIdentity FileIdentity::AtName(const QString&) {
    return {};
}

ReadOnlyFile::ReadOnlyFile(const QString& path) : path_(path), file_(path) {}

ReadOnlyFile::~ReadOnlyFile() = default;

FileIdentity ReadOnlyFile::identity() const {
    return {};
}

QString ReadOnlyFile::linkFreePath() const {
    return QFileInfo(path_).canonicalFilePath();
}

bool ReadOnlyFile::open(bool) {
    if (file_.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return true;
    error_ = file_.errorString();
    return false;
}

qint64 ReadOnlyFile::read(char* data, qint64 max) {
    const qint64 n = file_.read(data, max);
    if (n < 0)
        error_ = file_.errorString();
    return n;
}

qint64 ReadOnlyFile::size() const {
    return file_.size();
}

ReadOnlyFile::Lease ReadOnlyFile::takeReadLease() {
    return Lease::Unavailable;
}

bool ReadOnlyFile::leaseIntact() const {
    return true;
}

void ReadOnlyFile::releaseLease() {}

bool ReadOnlyFile::rewind() {
    if (file_.seek(0))
        return true;
    error_ = file_.errorString();
    return false;
}

#endif

} // namespace parvello
