// Real files in a temporary folder for the text-file suites.
#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#endif

namespace parvello::testing {

// A temporary folder that every user may enter and write (so a test part running as an
// unprivileged user reaches its files).
class TempFolder {
public:
    TempFolder() { QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7777)); }
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString write(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            qFatal("cannot write test file %s", qPrintable(path(name)));
        return path(name);
    }
    QStringList entries() const {
        return QDir(dir_.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    QString root() const { return dir_.path(); }

private:
    QTemporaryDir dir_;
};

// Creates folders (entries ending in "/") and empty files below root.
inline void makeTree(const QString& root, const QStringList& entries) {
    for (const QString& entry : entries) {
        const QString path = root + QLatin1Char('/') + entry;
        if (entry.endsWith(QLatin1Char('/'))) {
            QVERIFY(QDir().mkpath(path));
        } else {
            QDir().mkpath(QFileInfo(path).path());
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
    }
}

inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline QByteArray Utf16LE(const QString& text) {
    QByteArray bytes;
    for (QChar c : text) {
        bytes.append(char(c.unicode() & 0xFF));
        bytes.append(char(c.unicode() >> 8));
    }
    return bytes;
}

#ifdef Q_OS_UNIX
// The kind of what is at path, a link not followed (0 when nothing is there).
inline mode_t FileType(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & S_IFMT : 0;
}

// Makes a pipe, a socket or (where the user may) a character device like /dev/null at path.
inline bool MakeSpecial(const QString& path, mode_t type) {
    const QByteArray native = QFile::encodeName(path);
    if (type != S_IFSOCK)
        return ::mknod(native.constData(), type | 0666, type == S_IFCHR ? makedev(1, 3) : 0) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, native.constData(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

// Frees, after five seconds, whoever waits to open the pipe at path for reading, so that a
// test of code that wrongly opens it ends on its own; `fired` tells whether it had to.
inline std::jthread FreePipeLater(const QString& path, std::atomic<bool>& fired) {
    return std::jthread([native = QFile::encodeName(path), &fired](std::stop_token stop) {
        for (int tick = 0; !stop.stop_requested(); ++tick) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const int fd = tick < 250 ? -1 : ::open(native.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                fired = true, ::close(fd);
        }
    });
}
#endif

} // namespace parvello::testing
