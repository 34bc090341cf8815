#include "textio/readonlyfile.h"

#include <QCoreApplication>
#include <QFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace parvello {

#ifdef Q_OS_UNIX

ReadOnlyFile::ReadOnlyFile(const QString& path) : path_(path) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ReadOnlyFile::open() {
    const QByteArray native = QFile::encodeName(path_);
    int fd = -1;
    do {
        fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = qt_error_string(errno);
        return false;
    }
    if (::fstat(fd, &status_) == 0 && S_ISDIR(status_.st_mode)) {
        ::close(fd);
        // QFile's words for it.
        error_ = QCoreApplication::translate("QIODevice", "file to open is a directory");
        return false;
    }
    fd_ = fd;
    return true;
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

qint64 ReadOnlyFile::size() const {
    return S_ISREG(status_.st_mode) ? qint64(status_.st_size) : 0;
}

bool ReadOnlyFile::rewind() {
    if (::lseek(fd_, 0, SEEK_SET) == 0)
        return true;
    error_ = qt_error_string(errno);
    return false;
}

#else

ReadOnlyFile::ReadOnlyFile(const QString& path) : path_(path), file_(path) {}

ReadOnlyFile::~ReadOnlyFile() = default;

bool ReadOnlyFile::open() {
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

bool ReadOnlyFile::rewind() {
    if (file_.seek(0))
        return true;
    error_ = file_.errorString();
    return false;
}

#endif

} // namespace parvello
