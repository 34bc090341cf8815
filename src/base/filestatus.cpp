#include "base/filestatus.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/sysmacros.h>
#endif

namespace parvello {

QString FileId::text() const {
    return QStringLiteral("inode:%1:%2").arg(device).arg(inode);
}

#ifdef Q_OS_UNIX

namespace {

FileKind kindOf(unsigned mode) {
    if (S_ISREG(mode))
        return FileKind::Regular;
    if (S_ISDIR(mode))
        return FileKind::Folder;
    if (S_ISLNK(mode))
        return FileKind::Link;
    return FileKind::Other;
}

FileStatus failed(int error) {
    FileStatus status;
    status.error = error;
    return status;
}

#if defined(Q_OS_LINUX) && defined(STATX_ATTR_APPEND)
// The whole status and the attributes in one call. AT_STATX_DONT_SYNC: what the system has at
// hand will do, a network file system is not asked again.
FileStatus statusWithAttributes(const char* path, Links links) {
    struct statx x {};
    const int flags = AT_STATX_DONT_SYNC | (links == Links::DoNotFollow ? AT_SYMLINK_NOFOLLOW : 0);
    if (::statx(AT_FDCWD, path, flags, STATX_BASIC_STATS, &x) != 0)
        return failed(errno);
    FileStatus status;
    status.kind = kindOf(x.stx_mode);
    status.type = x.stx_mode & S_IFMT;
    status.mode = x.stx_mode & 07777;
    status.owner = x.stx_uid;
    status.group = x.stx_gid;
    status.links = x.stx_nlink;
    status.id = {makedev(x.stx_dev_major, x.stx_dev_minor), x.stx_ino};
    status.size = static_cast<long long>(x.stx_size);
    status.modified = {x.stx_mtime.tv_sec, x.stx_mtime.tv_nsec};
    status.changed = {x.stx_ctime.tv_sec, x.stx_ctime.tv_nsec};
    status.appendOnly = (x.stx_attributes_mask & STATX_ATTR_APPEND) != 0 &&
                        (x.stx_attributes & STATX_ATTR_APPEND) != 0;
    return status;
}
#endif

} // namespace

FileStatus FileStatus::From(const struct stat& system) {
    FileStatus status;
    status.kind = kindOf(system.st_mode);
    status.type = system.st_mode & S_IFMT;
    status.mode = system.st_mode & 07777;
    status.owner = system.st_uid;
    status.group = system.st_gid;
    status.links = system.st_nlink;
    status.id = {static_cast<unsigned long long>(system.st_dev),
                 static_cast<unsigned long long>(system.st_ino)};
    status.size = system.st_size;
#ifdef Q_OS_DARWIN
    status.modified = {system.st_mtimespec.tv_sec, system.st_mtimespec.tv_nsec};
    status.changed = {system.st_ctimespec.tv_sec, system.st_ctimespec.tv_nsec};
#else
    status.modified = {system.st_mtim.tv_sec, system.st_mtim.tv_nsec};
    status.changed = {system.st_ctim.tv_sec, system.st_ctim.tv_nsec};
#endif
    return status;
}

FileStatus FileStatus::Of(const QByteArray& nativePath, Links links, Attributes attributes) {
#if defined(Q_OS_LINUX) && defined(STATX_ATTR_APPEND)
    if (attributes == Attributes::Read)
        return statusWithAttributes(nativePath.constData(), links);
#else
    Q_UNUSED(attributes);
#endif
    struct stat system {};
    const int result = links == Links::Follow ? ::stat(nativePath.constData(), &system)
                                              : ::lstat(nativePath.constData(), &system);
    return result == 0 ? FileStatus::From(system) : failed(errno);
}

FileStatus FileStatus::Of(const QString& path, Links links, Attributes attributes) {
    return FileStatus::Of(QFile::encodeName(path), links, attributes);
}

FileStatus FileStatus::Of(int descriptor) {
    struct stat system {};
    return ::fstat(descriptor, &system) == 0 ? FileStatus::From(system) : failed(errno);
}

#else

FileStatus FileStatus::Of(const QString& path, Links links, Attributes) {
    const QFileInfo info(path);
    FileStatus status;
    if (links == Links::DoNotFollow && info.isSymLink()) {
        status.kind = FileKind::Link;
        return status;
    }
    if (!info.exists()) {
        status.error = ENOENT;
        return status;
    }
    status.kind = info.isDir()    ? FileKind::Folder
                  : info.isFile() ? FileKind::Regular
                                  : FileKind::Other;
    status.mode = info.isWritable() ? 0666 : 0444;
    status.size = info.size();
    const qint64 modified = info.lastModified().toMSecsSinceEpoch();
    status.modified = {modified / 1000, (modified % 1000) * 1000000};
    return status;
}

FileStatus FileStatus::Of(const QByteArray& nativePath, Links links, Attributes attributes) {
    return FileStatus::Of(QFile::decodeName(nativePath), links, attributes);
}

#endif

} // namespace parvello
