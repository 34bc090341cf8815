// A file opened for reading, with the failures described as QFile describes them.
#pragma once

#include <QString>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#else
#include <QFile>
#endif

namespace parvello {

#ifdef Q_OS_UNIX
// When a file's content last changed, as the status gives it on this system.
inline const struct timespec& ModifiedTime(const struct stat& status) {
#ifdef Q_OS_DARWIN
    return status.st_mtimespec;
#else
    return status.st_mtim;
#endif
}
#endif

// On Unix the system's own calls (one open, one status call, reads), elsewhere QFile.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const QString& path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens the file for reading; a folder is refused. False on failure, see errorString().
    bool open();
    // Reads up to max bytes, fewer only at the end of the file; -1 on failure.
    qint64 read(char* data, qint64 max);
    // The size the file had when it was opened (0 when it has none to report).
    qint64 size() const;
    // Back to the first byte; false on failure.
    bool rewind();

    QString errorString() const { return error_; }

#ifdef Q_OS_UNIX
    // The status of the open file, taken when it was opened.
    const struct stat& status() const {
        return status_;
    }
#endif

private:
    QString path_;
    QString error_;
#ifdef Q_OS_UNIX
    int fd_ = -1;
    struct stat status_ {};
#else
    QFile file_;
#endif
};

} // namespace parvello
