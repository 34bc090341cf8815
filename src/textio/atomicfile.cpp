#include "textio/atomicfile.h"

#include <QFile>
#include <QRandomGenerator>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace parvello {

#ifdef Q_OS_UNIX

namespace {

// Six letters or digits for a temporary name.
QByteArray randomSuffix() {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(6, '0');
    for (char& c : suffix)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return suffix;
}

int syncToDisk(int fd) {
#if defined(Q_OS_LINUX)
    return ::fdatasync(fd);
#else
    return ::fsync(fd);
#endif
}

} // namespace

AtomicFile::AtomicFile(const QString& target) : target_(target) {}

AtomicFile::~AtomicFile() {
    cancel();
}

void AtomicFile::fail(int number) {
    error_ = qt_error_string(number);
}

bool AtomicFile::open(bool targetExists, unsigned permissionBits) {
    cancel();
    const QByteArray base = QFile::encodeName(target_) + '.';
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray name = base + randomSuffix();
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            fd_ = fd;
            temporaryName_ = std::move(name);
            if (targetExists && ::fchmod(fd_, mode_t(permissionBits & 0777)) != 0) {
                const int number = errno;
                cancel();
                fail(number);
                return false;
            }
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

bool AtomicFile::write(const char* data, qint64 n) {
    while (n > 0) {
        const ssize_t written = ::write(fd_, data, size_t(n));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
            return false;
        }
        data += written;
        n -= written;
    }
    return true;
}

int AtomicFile::handle() const {
    return fd_;
}

bool AtomicFile::commit() {
    // As with QSaveFile, a file system that cannot sync is no reason to fail.
    (void)syncToDisk(fd_);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0 || ::rename(temporaryName_.constData(), QFile::encodeName(target_)) != 0) {
        fail(errno);
        cancel();
        return false;
    }
    temporaryName_.clear();
    return true;
}

void AtomicFile::cancel() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporaryName_.isEmpty())
        ::unlink(temporaryName_.constData());
    temporaryName_.clear();
}

#else

AtomicFile::AtomicFile(const QString& target) : target_(target), save_(target) {}

AtomicFile::~AtomicFile() {
    cancel();
}

bool AtomicFile::open(bool, unsigned) {
    if (save_.open(QIODevice::WriteOnly))
        return true;
    error_ = save_.errorString();
    return false;
}

bool AtomicFile::write(const char* data, qint64 n) {
    if (save_.write(data, n) == n)
        return true;
    error_ = save_.errorString();
    return false;
}

int AtomicFile::handle() const {
    return save_.handle();
}

bool AtomicFile::commit() {
    if (save_.commit())
        return true;
    error_ = save_.errorString();
    return false;
}

void AtomicFile::cancel() {
    if (save_.isOpen()) {
        save_.cancelWriting();
        save_.commit(); // with writing cancelled this removes the temporary file
    }
}

#endif

} // namespace parvello
