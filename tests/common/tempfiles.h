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
// Files that are not files: a pipe, a socket, a character device (a node like /dev/null
// made in the folder where the user may make one, else /dev/null itself).
inline QString MakePipe(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0666) == 0 ? path : QString();
}
inline QString MakeSocket(const QString& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(),
                 sizeof address.sun_path - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound ? path : QString();
}
inline QString MakeCharDevice(const QString& path) {
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0
               ? path
               : QStringLiteral("/dev/null");
}
inline bool IsFileOfType(const QString& path, mode_t type) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 &&
           (status.st_mode & S_IFMT) == type;
}

// Frees, after a deadline, whoever waits to open the pipe at path for reading, so that a
// test of code that wrongly opens it ends on its own; fired() tells whether it had to.
class PipeWatchdog {
public:
    explicit PipeWatchdog(const QString& path, int seconds = 5)
        : thread_([this, native = QFile::encodeName(path), seconds] {
              const auto deadline =
                  std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
              while (!stop_) {
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
                  if (std::chrono::steady_clock::now() < deadline)
                      continue;
                  // Succeeds only while a reader waits; closing it ends that reader's wait.
                  if (const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                      fired_ = true;
                      ::close(fd);
                  }
              }
          }) {}
    ~PipeWatchdog() {
        stop_ = true;
        thread_.join();
    }
    bool fired() const { return fired_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> fired_{false};
    std::thread thread_;
};
#endif

} // namespace parvello::testing
