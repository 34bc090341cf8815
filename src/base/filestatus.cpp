#include "base/filestatus.h"

#include <cerrno>

#if defined(PARVELLO_OS_UNIX)
#include <fcntl.h>
#include <sys/stat.h>
#endif
#if defined(PARVELLO_OS_LINUX)
#include <sys/sysmacros.h>
#endif
#if defined(PARVELLO_OS_WINDOWS)
#include "base/win32.h"

#include <windows.h>
#endif

namespace parvello {

std::string FileId::text() const {
    return "inode:" + std::to_string(device) + ':' + std::to_string(inode);
}

#if defined(PARVELLO_OS_UNIX)

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

// An empty name stands for the open folder itself, where the system allows it.
#if defined(AT_EMPTY_PATH)
constexpr int EmptyName = AT_EMPTY_PATH;
#else
constexpr int EmptyName = 0;
#endif

#if defined(PARVELLO_OS_LINUX) && defined(STATX_ATTR_APPEND)
// The whole status and the attributes in one call. AT_STATX_DONT_SYNC: what the system has at
// hand will do, a network file system is not asked again.
FileStatus statusWithAttributes(int folder, const char* path, Links links) {
    struct statx x {};
    const int flags = AT_STATX_DONT_SYNC | (links == Links::DoNotFollow ? AT_SYMLINK_NOFOLLOW : 0) |
                      (*path == '\0' ? EmptyName : 0);
    if (::statx(folder, path, flags, STATX_BASIC_STATS, &x) != 0)
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
#if defined(__APPLE__)
    status.modified = {system.st_mtimespec.tv_sec, system.st_mtimespec.tv_nsec};
    status.changed = {system.st_ctimespec.tv_sec, system.st_ctimespec.tv_nsec};
#else
    status.modified = {system.st_mtim.tv_sec, system.st_mtim.tv_nsec};
    status.changed = {system.st_ctim.tv_sec, system.st_ctim.tv_nsec};
#endif
    return status;
}

FileStatus FileStatus::Of(const std::filesystem::path& path, Links links, Attributes attributes) {
    return At(AT_FDCWD, path.c_str(), links, attributes);
}

FileStatus FileStatus::At(int folder, const char* name, Links links, Attributes attributes) {
#if defined(PARVELLO_OS_LINUX) && defined(STATX_ATTR_APPEND)
    if (attributes == Attributes::Read)
        return statusWithAttributes(folder, name, links);
#else
    (void)attributes;
#endif
    struct stat system {};
    const int flags =
        (links == Links::DoNotFollow ? AT_SYMLINK_NOFOLLOW : 0) | (*name == '\0' ? EmptyName : 0);
    return ::fstatat(folder, name, &system, flags) == 0 ? FileStatus::From(system) : failed(errno);
}

FileStatus FileStatus::Of(int descriptor) {
    struct stat system {};
    return ::fstat(descriptor, &system) == 0 ? FileStatus::From(system) : failed(errno);
}

#elif defined(PARVELLO_OS_WINDOWS)

namespace {

// The error numbers the callers tell apart; anything else reads as an input/output error.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_INVALID_DRIVE:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return EACCES;
    default:
        return EIO;
    }
}

// A FILETIME (100-nanosecond steps since 1601) as seconds and nanoseconds since 1970.
FileTime timeOf(const FILETIME& time) {
    constexpr long long stepsTo1970 = 116444736000000000LL;
    const long long steps =
        static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) -
        stepsTo1970;
    long long seconds = steps / 10000000;
    long long rest = steps % 10000000;
    if (rest < 0) {
        --seconds;
        rest += 10000000;
    }
    return {seconds, rest * 100};
}

// The status of an open file; a reparse point is a link only when the name's own was opened.
FileStatus statusOf(HANDLE handle, bool linkItself) {
    FileStatus status;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) {
        status.error = errnoOf(GetLastError());
        return status;
    }
    const DWORD type = GetFileType(handle);
    const DWORD attributes = info.dwFileAttributes;
    if (linkItself && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
        status.kind = FileKind::Link;
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        status.kind = FileKind::Folder;
    else
        status.kind = type == FILE_TYPE_DISK ? FileKind::Regular : FileKind::Other;
    status.mode = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
    status.links = info.nNumberOfLinks;
    status.id = {info.dwVolumeSerialNumber,
                 (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    status.size = static_cast<long long>(
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    status.modified = timeOf(info.ftLastWriteTime);
    status.changed = status.modified;
    return status;
}

} // namespace

FileStatus FileStatus::OfHandle(void* handle) {
    return statusOf(handle, false);
}

FileStatus FileStatus::Of(const std::filesystem::path& path, Links links, Attributes) {
    // No access asked for: the status of a file another program holds open is still told.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS |
                        (links == Links::DoNotFollow ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    const HANDLE handle = CreateFileW(win32::SystemPath(path).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        FileStatus status;
        status.error = errnoOf(GetLastError());
        return status;
    }
    const FileStatus status = statusOf(handle, links == Links::DoNotFollow);
    CloseHandle(handle);
    return status;
}

#endif

} // namespace parvello
