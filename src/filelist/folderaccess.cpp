#include "filelist/folderaccess.h"

#include "base/filestatus.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string_view>
#include <system_error>

#if defined(PARVELLO_OS_WINDOWS)
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

namespace parvello {

namespace {

std::string utf8Of(const std::filesystem::path& path) {
#if defined(PARVELLO_OS_WINDOWS)
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
#else
    return path.native();
#endif
}

std::string listingText(ListingProblem problem, const std::filesystem::path& folder,
                        const std::string& words) {
    switch (problem) {
    case ListingProblem::PermissionDenied:
        return "Permission denied: " + utf8Of(folder);
    case ListingProblem::PathNotFound:
        return "Path not found: " + utf8Of(folder);
    case ListingProblem::Other:
        break;
    }
    return "Path/File access error: " + utf8Of(folder) + " (" + words + ")";
}

enum class EntryKind { Folder, LinkToFolder, RegularFile, Other };

// A listing entry as the callers of `listed` see it.
struct Listed {
    std::filesystem::path name;
    EntryKind kind;
};

// Whether the folder's path names a root: nothing but the root after "." and ".." are
// resolved by the text alone.
bool namesRoot(const std::filesystem::path& folder) {
    if (folder.empty())
        return false;
    const std::filesystem::path clean = folder.lexically_normal();
    return clean.has_root_directory() && clean.relative_path().empty();
}

#if defined(PARVELLO_OS_WINDOWS)

// The path as the W functions take it beyond MAX_PATH: absolute paths get the "\\?\" form,
// in which the system no longer resolves "." and "..", so those are resolved first.
std::wstring longForm(const std::filesystem::path& path) {
    std::wstring text = path.lexically_normal().native();
    std::replace(text.begin(), text.end(), L'/', L'\\');
    if (text.size() < 240 || text.starts_with(L"\\\\?\\") || !path.is_absolute())
        return text;
    if (text.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + text.substr(2);
    return L"\\\\?\\" + text;
}

[[noreturn]] void listingFailed(const std::filesystem::path& folder, DWORD error) {
    if (error == ERROR_ACCESS_DENIED)
        throw ListingError(ListingProblem::PermissionDenied, folder, {});
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND ||
        error == ERROR_DIRECTORY || error == ERROR_INVALID_NAME)
        throw ListingError(ListingProblem::PathNotFound, folder, {});
    throw ListingError(ListingProblem::Other, folder,
                       std::system_category().message(static_cast<int>(error)));
}

// Every entry of the folder except "." and "..", with FindFirstFileExW (which, unlike the
// standard library's iterator under MinGW, takes paths beyond MAX_PATH).
std::vector<Listed> entriesOf(const std::filesystem::path& folder) {
    std::wstring pattern = longForm(folder);
    if (!pattern.empty() && pattern.back() != L'\\')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<Listed> found;
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) // a root with nothing in it
            return found;
        listingFailed(folder, error);
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..")
            continue;
        const DWORD value = data.dwFileAttributes;
        EntryKind kind = EntryKind::RegularFile;
        if (value & FILE_ATTRIBUTE_DIRECTORY)
            kind = (value & FILE_ATTRIBUTE_REPARSE_POINT) ? EntryKind::LinkToFolder
                                                          : EntryKind::Folder;
        else if (value & FILE_ATTRIBUTE_DEVICE)
            kind = EntryKind::Other;
        found.push_back({std::filesystem::path(std::wstring(name)), kind});
    } while (FindNextFileW(find, &data));
    const DWORD error = GetLastError();
    FindClose(find);
    if (error != ERROR_NO_MORE_FILES)
        listingFailed(folder, error);
    return found;
}

// The open file or folder a path leads to, for the questions only a handle answers.
struct OpenedPath {
    HANDLE handle;
    explicit OpenedPath(const std::filesystem::path& path)
        : handle(CreateFileW(longForm(path).c_str(), 0,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
    ~OpenedPath() {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    OpenedPath(const OpenedPath&) = delete;
    OpenedPath& operator=(const OpenedPath&) = delete;
};

#else

[[noreturn]] void listingFailed(const std::filesystem::path& folder, int error) {
    if (error == EACCES || error == EPERM)
        throw ListingError(ListingProblem::PermissionDenied, folder, {});
    if (error == ENOENT || error == ENOTDIR)
        throw ListingError(ListingProblem::PathNotFound, folder, {});
    throw ListingError(ListingProblem::Other, folder, std::generic_category().message(error));
}

// What one directory entry is; links are followed to see whether they lead to a folder.
EntryKind kindOf(int folder, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return EntryKind::Folder;
    if (entry->d_type == DT_REG)
        return EntryKind::RegularFile;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return EntryKind::Other;
    struct stat status {};
    if (entry->d_type == DT_UNKNOWN) {
        if (::fstatat(folder, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
            return EntryKind::Other;
        if (S_ISDIR(status.st_mode))
            return EntryKind::Folder;
        if (!S_ISLNK(status.st_mode))
            return S_ISREG(status.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
    }
    if (::fstatat(folder, entry->d_name, &status, 0) != 0)
        return EntryKind::Other;
    if (S_ISDIR(status.st_mode))
        return EntryKind::LinkToFolder;
    return S_ISREG(status.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
}

// Every entry of the folder except "." and "..".
std::vector<Listed> entriesOf(const std::filesystem::path& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        listingFailed(folder, errno);
    struct Closer {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    std::vector<Listed> found;
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                listingFailed(folder, errno);
            return found;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        found.push_back({std::filesystem::path(name), kindOf(::dirfd(dir), entry)});
    }
}

// One code point of UTF-8 at `at` (moved past it), keyed so that keys order as UTF-16 units
// do: U+E000 to U+FFFF come after every character beyond the BMP. A byte that starts no
// valid sequence is keyed after every character.
unsigned utf16Key(std::string_view text, std::size_t& at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(at);
    const int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (length == 0 || at + static_cast<std::size_t>(length) > text.size())
        return 0x300000u + byte(at++);
    unsigned point = length == 1 ? lead : lead & (0x7Fu >> length);
    for (int i = 1; i < length; ++i) {
        if ((byte(at + static_cast<std::size_t>(i)) & 0xC0) != 0x80)
            return 0x300000u + byte(at++);
        point = (point << 6) | (byte(at + static_cast<std::size_t>(i)) & 0x3F);
    }
    at += static_cast<std::size_t>(length);
    return point >= 0xE000 && point <= 0xFFFF ? point + 0x200000u : point;
}

#endif

// The entries of folder that `kept` takes, as Entry{name, the flag kept gives}, in name order.
template <class Entry, class Kept>
std::vector<Entry> listed(const std::filesystem::path& folder, Kept&& kept) {
    std::vector<Entry> found;
    for (Listed& entry : entriesOf(folder))
        if (const std::optional<bool> flag = kept(entry.kind))
            found.push_back({std::move(entry.name), *flag});
    std::sort(found.begin(), found.end(),
              [](const Entry& a, const Entry& b) { return NameOrderLess(a.name, b.name); });
    return found;
}

class LocalFolders : public FolderAccess {
public:
    PathStyle style() const override { return NativePathStyle(); }

    int attributes(const std::filesystem::path& path) override;

    bool isRootFolder(const std::filesystem::path& folder) override { return namesRoot(folder); }

    std::vector<SubFolder> subFolders(const std::filesystem::path& folder) override {
        return listed<SubFolder>(folder, [](EntryKind kind) -> std::optional<bool> {
            if (kind == EntryKind::Folder || kind == EntryKind::LinkToFolder)
                return kind == EntryKind::LinkToFolder; // whether it is a link
            return std::nullopt;
        });
    }

    std::vector<FileEntry> fileNames(const std::filesystem::path& folder) override {
        return listed<FileEntry>(folder, [](EntryKind kind) -> std::optional<bool> {
            if (kind == EntryKind::RegularFile || kind == EntryKind::Other)
                return kind == EntryKind::RegularFile; // whether it is a regular file
            return std::nullopt;
        });
    }

    bool isRegularFile(const std::filesystem::path& path) override;
    std::filesystem::path resolvedPath(const std::filesystem::path& folder) override;
    PathTarget target(const std::filesystem::path& path) override;
};

#if defined(PARVELLO_OS_WINDOWS)

int LocalFolders::attributes(const std::filesystem::path& path) {
    const DWORD value =
        path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(longForm(path).c_str());
    if (value == INVALID_FILE_ATTRIBUTES)
        throw AttributesError(path);
    return static_cast<int>(value);
}

std::filesystem::path LocalFolders::resolvedPath(const std::filesystem::path& folder) {
    const OpenedPath opened(folder);
    if (folder.empty() || opened.handle == INVALID_HANDLE_VALUE)
        return {};
    // The longest path the system has room for, so that one call is enough.
    std::wstring text(32768, L'\0');
    const DWORD length =
        GetFinalPathNameByHandleW(opened.handle, text.data(), static_cast<DWORD>(text.size()), 0);
    if (length == 0 || length >= text.size())
        return {};
    text.resize(length);
    // "\\?\C:\..." is named "C:\..." and "\\?\UNC\server\..." "\\server\...".
    if (text.starts_with(L"\\\\?\\UNC\\"))
        return L"\\\\" + text.substr(8);
    if (text.starts_with(L"\\\\?\\"))
        return text.substr(4);
    return text;
}

#else

int LocalFolders::attributes(const std::filesystem::path& path) {
    struct stat status {};
    if (path.empty() || ::lstat(path.c_str(), &status) != 0)
        throw AttributesError(path);
    int result = 0;
    if (S_ISLNK(status.st_mode)) {
        result |= attributes::ReparsePoint;
        // A link to nothing keeps the link's own status.
        struct stat target {};
        if (::stat(path.c_str(), &target) == 0)
            status = target;
    }
    result |= S_ISDIR(status.st_mode) ? attributes::Directory : attributes::Archive;
    if ((status.st_mode & 0222) == 0)
        result |= attributes::ReadOnly;
    // The name after the last separator: a path that ends with one has none.
    const std::string& text = path.native();
    const std::string_view name = std::string_view(text).substr(text.rfind('/') + 1);
    if (name.starts_with('.') && name != "." && name != "..")
        result |= attributes::Hidden;
    return result;
}

std::filesystem::path LocalFolders::resolvedPath(const std::filesystem::path& folder) {
    if (folder.empty())
        return {};
    struct Freed {
        char* text;
        ~Freed() { std::free(text); }
    } real{::realpath(folder.c_str(), nullptr)};
    return real.text ? std::filesystem::path(real.text) : std::filesystem::path();
}

#endif

bool LocalFolders::isRegularFile(const std::filesystem::path& path) {
    return !path.empty() && FileStatus::Of(path).isRegular();
}

// One status call answers both questions.
PathTarget LocalFolders::target(const std::filesystem::path& path) {
    const FileStatus info = path.empty() ? FileStatus() : FileStatus::Of(path);
    if (!info.exists())
        return {};
    return {info.id.text(), info.isRegular()};
}

} // namespace

ListingError::ListingError(ListingProblem problem, std::filesystem::path folder,
                           std::string systemWords)
    : std::runtime_error(listingText(problem, folder, systemWords)), problem_(problem),
      folder_(std::move(folder)), words_(std::move(systemWords)) {}

AttributesError::AttributesError(const std::filesystem::path& path)
    : std::runtime_error("File not found: " + utf8Of(path)) {}

PathTarget FolderAccess::target(const std::filesystem::path& path) {
    return {utf8Of(resolvedPath(path)), isRegularFile(path)};
}

bool NameOrderLess(const std::filesystem::path& a, const std::filesystem::path& b) {
#if defined(PARVELLO_OS_WINDOWS)
    return a.native() < b.native();
#else
    const std::string_view x = a.native();
    const std::string_view y = b.native();
    const auto [at, _] = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
    std::size_t i = static_cast<std::size_t>(at - x.begin());
    // Within ASCII (or at the end of either) the bytes order as the text does.
    if (i == x.size() || i == y.size() ||
        (static_cast<unsigned char>(x[i]) < 0x80 && static_cast<unsigned char>(y[i]) < 0x80))
        return x.substr(i) < y.substr(i);
    // Back to the start of the character the names part in, then compare whole characters.
    while (i > 0 && (static_cast<unsigned char>(x[i]) & 0xC0) == 0x80)
        --i;
    std::size_t ix = i;
    std::size_t iy = i;
    while (ix < x.size() && iy < y.size()) {
        const unsigned kx = utf16Key(x, ix);
        const unsigned ky = utf16Key(y, iy);
        if (kx != ky)
            return kx < ky;
    }
    return x.size() - ix < y.size() - iy;
#endif
}

std::shared_ptr<FolderAccess> LocalFolderAccess() {
    return std::make_shared<LocalFolders>();
}

} // namespace parvello
