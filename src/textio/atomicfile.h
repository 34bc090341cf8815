// The temporary file beside a target that replaces the target in one step.
#pragma once

#include <QString>

#ifndef Q_OS_UNIX
#include <QSaveFile>
#endif

namespace parvello {

// Writes to a temporary file in the target's folder and moves it over the target at
// commit(), after the data has been flushed to the disk; the target is never seen half
// written. A temporary file that is not committed is removed, on every failure and when
// the object goes away. On Unix it is a few system calls of its own: where the system has
// them (Linux), a file without a name in the target's folder, named only when complete, so
// that even a killed run leaves nothing behind; otherwise a new file created exclusively
// under a fresh name; then write, fdatasync, and rename over the target (a new target may
// take its name directly). Elsewhere it is QSaveFile.
class AtomicFile {
public:
    explicit AtomicFile(const QString& target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file. For a target that exists, permissionBits (the lowest
    // nine mode bits) are given to the temporary file; a new one gets the usual bits for a
    // new file. False on failure, see errorString().
    bool open(bool targetExists, unsigned permissionBits);
    // Writes all n bytes; false on failure.
    bool write(const char* data, qint64 n);
    // The native handle of the temporary file, for owner and mode changes.
    int handle() const;
    // Flushes to the disk and moves the temporary file over the target. False on failure,
    // and the temporary file is then gone.
    bool commit();
    // Removes the temporary file; the target stays as it was.
    void cancel();

    QString errorString() const { return error_; }

    // For tests: whether a file without a name may be used where the system has them
    // (allowed unless told otherwise), so that the named way is tested there too.
    static void AllowUnnamedFiles(bool allowed);

private:
    QString target_;
    QString error_;
#ifdef Q_OS_UNIX
    void fail(int number);
    bool givePermissionBits(bool targetExists, unsigned permissionBits);
    bool nameUnnamedFile();
    QByteArray temporaryName_; // empty while the file has no name
    int fd_ = -1;
    bool unnamed_ = false;
    bool targetExisted_ = false;
#else
    QSaveFile save_;
#endif
};

} // namespace parvello
