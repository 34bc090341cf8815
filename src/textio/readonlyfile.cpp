#include "textio/readonlyfile.h"

#include "textio/signals.h"

#if defined(PARVELLO_OS_UNIX)
#include "textio/atomicfile_unix.h"
#endif

#include <algorithm>
#include <system_error>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include "base/win32.h"

#include <windows.h>
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

#if defined(PARVELLO_OS_UNIX)

namespace {

// The system's words for an error number (strerror's).
std::string systemWords(int error) {
    return std::generic_category().message(error);
}

} // namespace

FileIdentity FileIdentity::Of(const struct stat& status) {
    return Of(FileStatus::From(status));
}

FileIdentity FileIdentity::AtName(const std::filesystem::path& path) {
    return Of(FileStatus::Of(path, Links::DoNotFollow));
}

OpenFolder::OpenFolder(const std::filesystem::path& path) {
#if defined(O_PATH)
    const std::string& text = path.native();
    const size_t slash = text.rfind('/');
    // A path that ends in its separator names no file in a folder.
    if (slash != std::string::npos && slash + 1 == text.size())
        return;
    const std::string folder = atomicfile_unix::folderOf(text);
    do
        fd_ = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
#else
    (void)path;
#endif
}

OpenFolder::~OpenFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int FolderToLook(int folder) {
    return folder >= 0 ? folder : AT_FDCWD;
}

const char* NameToLook(int folder, const std::string& path) {
    const size_t slash = folder >= 0 ? path.rfind('/') : std::string::npos;
    return slash == std::string::npos ? path.c_str() : path.c_str() + slash + 1;
}

ReadOnlyFile::ReadOnlyFile(std::filesystem::path path, int folder)
    : path_(std::move(path)), folder_(folder) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ReadOnlyFile::open(bool followLinks) {
    // Without waiting: a pipe that nobody writes would otherwise hold the open for ever. Only
    // a regular file is read (a device could be endless), and that reads as usual.
    const auto openName = [&](int flags) {
        int fd = -1;
        do {
            fd = ::openat(FolderToLook(folder_), NameToLook(folder_, path_.native()), flags);
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
        error_ = systemWords(errno);
        return false;
    }
    status_ = FileStatus::Of(fd);
    if (!status_.isRegular()) {
        ::close(fd);
        if (status_.isFolder()) // the words the window has always shown for it
            error_ = "file to open is a directory";
        else if (status_.exists())
            error_ = "it is a pipe, socket or device, not a file";
        else
            error_ = systemWords(status_.error);
        return false;
    }
    fd_ = fd;
    return true;
}

FileIdentity ReadOnlyFile::identity() const {
    return fd_ >= 0 ? FileIdentity::Of(status_) : FileIdentity();
}

std::filesystem::path ReadOnlyFile::linkFreePath() const {
    if (fd_ < 0)
        return {};
    // No link at the name's end: the name leads to the file, its folders resolved by the
    // system at each use.
    if (nameIsFile_)
        return path_;
#if defined(PARVELLO_OS_LINUX)
    // The system's own name for the open file.
    char buffer[PATH_MAX + 1];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd_);
    const ssize_t n = ::readlink(proc.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && buffer[0] == '/')
        return std::filesystem::path(std::string(buffer, size_t(n)));
#endif
    // Elsewhere, the name resolved by the system, if it still leads to the open file.
    char* resolved = ::realpath(path_.c_str(), nullptr);
    if (!resolved)
        return {};
    std::filesystem::path real(resolved);
    std::free(resolved);
    if (const FileStatus status = FileStatus::Of(real); !status.exists() || status.id != status_.id)
        return {};
    return real;
}

std::int64_t ReadOnlyFile::read(char* data, std::int64_t max) {
    std::int64_t got = 0;
    while (got < max) {
        const ssize_t n = ::read(fd_, data + got, size_t(max - got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (got > 0)
                break;
            error_ = systemWords(errno);
            return -1;
        }
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

namespace {

#if defined(PARVELLO_OS_LINUX)
// A broken lease is announced with a signal whose default action would end the program; the
// lease's state is asked for instead, so the signal is ignored, unless the program handles
// it itself.
void ignoreLeaseSignal() {
    static const bool ignored = (IgnoreSignalUnlessHandled(SIGIO), true);
    (void)ignored;
}
#endif

} // namespace

ReadOnlyFile::Lease ReadOnlyFile::takeReadLease() {
#if defined(PARVELLO_OS_LINUX)
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
#if defined(PARVELLO_OS_LINUX)
    // A lease being broken already reports what it is to become.
    return !leased_ || ::fcntl(fd_, F_GETLEASE) == F_RDLCK;
#else
    return true;
#endif
}

void ReadOnlyFile::releaseLease() {
#if defined(PARVELLO_OS_LINUX)
    if (leased_)
        (void)::fcntl(fd_, F_SETLEASE, F_UNLCK);
#endif
    leased_ = false;
}

void ReadOnlyFile::close() {
    releaseLease();
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

std::int64_t ReadOnlyFile::size() const {
    return status_.isRegular() ? std::int64_t(status_.size) : 0;
}

bool ReadOnlyFile::rewind() {
    if (::lseek(fd_, 0, SEEK_SET) == 0)
        return true;
    error_ = systemWords(errno);
    return false;
}

#elif defined(PARVELLO_OS_WINDOWS)

using win32::SystemPath;
using win32::SystemWords;

FileIdentity FileIdentity::AtName(const std::filesystem::path& path) {
    return Of(FileStatus::Of(path, Links::DoNotFollow));
}

OpenFolder::OpenFolder(const std::filesystem::path&) {}
OpenFolder::~OpenFolder() = default;
OpenFolder::OpenFolder(OpenFolder&&) noexcept {}
OpenFolder& OpenFolder::operator=(OpenFolder&&) noexcept {
    return *this;
}

ReadOnlyFile::ReadOnlyFile(std::filesystem::path path, int) : path_(std::move(path)) {}

ReadOnlyFile::~ReadOnlyFile() {
    if (handle_)
        CloseHandle(handle_);
}

FileIdentity ReadOnlyFile::identity() const {
    return handle_ ? identity_ : FileIdentity();
}

// The system's final name for the open file, without the prefix of long paths.
std::filesystem::path ReadOnlyFile::linkFreePath() const {
    if (!handle_)
        return {};
    std::wstring name(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(handle_, name.data(), DWORD(name.size()), 0);
    if (n >= name.size()) {
        name.resize(n);
        n = GetFinalPathNameByHandleW(handle_, name.data(), DWORD(name.size()), 0);
    }
    if (n == 0 || n >= name.size())
        return {};
    name.resize(n);
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
        name = L"\\\\" + name.substr(8);
    else if (name.rfind(L"\\\\?\\", 0) == 0)
        name = name.substr(4);
    return std::filesystem::path(name);
}

bool ReadOnlyFile::open(bool) {
    const HANDLE handle = CreateFileW(SystemPath(path_).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = SystemWords(GetLastError());
        return false;
    }
    LARGE_INTEGER size{};
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        error_ = "it is a pipe, socket or device, not a file";
        return false;
    }
    handle_ = handle;
    size_ = size.QuadPart;
    identity_ = FileIdentity::Of(FileStatus::OfHandle(handle));
    return true;
}

std::int64_t ReadOnlyFile::read(char* data, std::int64_t max) {
    std::int64_t got = 0;
    while (got < max) {
        const DWORD want = DWORD(std::min<std::int64_t>(max - got, 1 << 30));
        DWORD n = 0;
        if (!ReadFile(handle_, data + got, want, &n, nullptr)) {
            if (got > 0)
                break;
            error_ = SystemWords(GetLastError());
            return -1;
        }
        if (n == 0)
            break;
        got += n;
    }
    return got;
}

std::int64_t ReadOnlyFile::size() const {
    return handle_ ? size_ : 0;
}

ReadOnlyFile::Lease ReadOnlyFile::takeReadLease() {
    return Lease::Unavailable;
}

bool ReadOnlyFile::leaseIntact() const {
    return true;
}

void ReadOnlyFile::releaseLease() {}

void ReadOnlyFile::close() {
    if (handle_)
        CloseHandle(handle_);
    handle_ = nullptr;
}

bool ReadOnlyFile::rewind() {
    LARGE_INTEGER start{};
    if (SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN))
        return true;
    error_ = SystemWords(GetLastError());
    return false;
}

#endif

} // namespace parvello
