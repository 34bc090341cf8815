#include "textio/leftovers.h"

#include "base/filestatus.h"
#include "base/portable.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <mutex>
#include <random>
#include <set>
#include <string>

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include "base/win32.h"

#include <windows.h>

#include <cwchar>
#include <vector>
#endif

namespace parvello {

namespace {

constexpr std::string_view Marker = ".~pv";
// What ends a folder's name in a path's text (on Windows a drive's too, as in "C:name").
#if defined(PARVELLO_OS_WINDOWS)
constexpr wchar_t Separators[] = L"/\\:";
#else
constexpr char Separators[] = "/";
#endif
constexpr int RandomLength = 6;

// The running process's id, asked for once: the program never forks to go on as another
// process, and each file written asks for it.
long long ownProcessId() {
#if defined(PARVELLO_OS_WINDOWS)
    static const long long id = static_cast<long long>(GetCurrentProcessId());
#else
    static const long long id = ::getpid();
#endif
    return id;
}

bool isAlphaNumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The folder of a path: "." for a bare name.
std::filesystem::path folderOf(const std::filesystem::path& target) {
    std::filesystem::path folder = target.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// Six random letters or digits, from a generator of each thread's own, seeded by the system.
std::string randomLetters() {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, int(sizeof letters) - 2);
    std::string random(RandomLength, '0');
    for (char& c : random)
        c = letters[pick(generator)];
    return random;
}

// Whether a folder is looked at for the first time in this process.
bool firstLook(const std::filesystem::path& folder) {
    static std::mutex mutex;
    static std::set<std::filesystem::path::string_type> seen;
    const std::lock_guard<std::mutex> lock(mutex);
    return seen.insert(folder.native()).second;
}

#if defined(PARVELLO_OS_WINDOWS)
// Whether the process of that id still runs (or may: one the user may not ask about does).
bool processRuns(long long id) {
    if (id > 0xFFFFFFFFLL)
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(id));
    if (!process)
        return GetLastError() != ERROR_INVALID_PARAMETER; // no process has that id
    DWORD code = 0;
    const bool runs = !GetExitCodeProcess(process, &code) || code == STILL_ACTIVE;
    CloseHandle(process);
    return runs;
}

// A security identifier of this process's token: its user (TokenUser) or the owner it gives
// the files it makes (TokenOwner: the user, or the administrators' group when elevated).
std::vector<unsigned char> tokenSid(TOKEN_INFORMATION_CLASS which) {
    std::vector<unsigned char> sid;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return sid;
    DWORD size = 0;
    GetTokenInformation(token, which, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size && GetTokenInformation(token, which, buffer.data(), size, &size)) {
        const PSID found = which == TokenUser
                               ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid
                               : reinterpret_cast<TOKEN_OWNER*>(buffer.data())->Owner;
        const auto* const bytes = static_cast<const unsigned char*>(found);
        sid.assign(bytes, bytes + GetLengthSid(found));
    }
    CloseHandle(token);
    return sid;
}

// Whether the file's owner is this process's user, or the owner it gives the files it makes.
bool ownedAsOurs(const std::filesystem::path& path) {
    static const std::vector<unsigned char> ours[2] = {tokenSid(TokenUser), tokenSid(TokenOwner)};
    const std::wstring name = win32::SystemPath(path);
    DWORD size = 0;
    GetFileSecurityW(name.c_str(), OWNER_SECURITY_INFORMATION, nullptr, 0, &size);
    std::vector<unsigned char> descriptor(size);
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!size ||
        !GetFileSecurityW(name.c_str(), OWNER_SECURITY_INFORMATION, descriptor.data(), size,
                          &size) ||
        !GetSecurityDescriptorOwner(descriptor.data(), &owner, &defaulted) || !owner)
        return false;
    return std::any_of(
        std::begin(ours), std::end(ours), [&](const std::vector<unsigned char>& sid) {
            return !sid.empty() && EqualSid(owner, const_cast<unsigned char*>(sid.data()));
        });
}
#endif

} // namespace

std::filesystem::path::string_type TemporaryTextBeside(const std::filesystem::path& target) {
    // The target's text up to its last separator, then the name: made for every file written,
    // and cheaper than taking the path apart into its folder and adding a name to that.
    using Text = std::filesystem::path::string_type;
    const Text& text = target.native();
    const size_t cut = text.find_last_of(Separators);
    Text name = cut == text.npos ? Text() : text.substr(0, cut + 1);
    const std::string own =
        std::string(Marker) + std::to_string(ownProcessId()) + '-' + randomLetters();
    name.append(own.begin(), own.end()); // letters and digits only, the same in any width
    return name;
}

std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target) {
    return std::filesystem::path(TemporaryTextBeside(target));
}

bool IsOwnTemporaryName(std::string_view name, long long* processId) {
    if (name.substr(0, Marker.size()) != Marker)
        return false;
    const size_t dash = name.find('-', Marker.size());
    if (dash == std::string_view::npos || dash <= Marker.size() ||
        name.size() - dash - 1 != size_t(RandomLength))
        return false;
    long long id = 0;
    const char* const first = name.data() + Marker.size();
    const char* const last = name.data() + dash;
    // Digits only, as a number of the process: no sign, no spaces.
    const auto [end, error] = std::from_chars(first, last, id);
    if (error != std::errc() || end != last || id <= 0)
        return false;
    for (size_t i = dash + 1; i < name.size(); ++i)
        if (!isAlphaNumeric(name[i]))
            return false;
    if (processId)
        *processId = id;
    return true;
}

void RemoveLeftoversBeside(const std::filesystem::path& target) {
    // Files come folder by folder: the folder this thread looked at last is known at once,
    // from the text of the path, without taking the path apart.
    thread_local std::filesystem::path::string_type lastFolder; // up to its last separator
    const std::filesystem::path::string_type& text = target.native();
    const size_t cut = text.find_last_of(Separators);
    if (cut != text.npos && cut + 1 == lastFolder.size() &&
        text.compare(0, cut + 1, lastFolder) == 0)
        return;
    const std::filesystem::path folder = folderOf(target);
    const bool first = firstLook(folder);
    if (cut != text.npos)
        lastFolder.assign(text, 0, cut + 1);
    if (!first)
        return;
#if defined(PARVELLO_OS_UNIX)
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        long long processId = 0;
        if (!IsOwnTemporaryName(entry->d_name, &processId))
            continue;
        // Only a process that is gone leaves its file for good.
        if (processId == ownProcessId() || ::kill(pid_t(processId), 0) == 0 || errno != ESRCH)
            continue;
        // And only a file of the running user's is ours: another user's file of such a name
        // is theirs, even where this user may remove it.
        const std::filesystem::path path = folder / entry->d_name;
        if (const FileStatus status = FileStatus::Of(path, Links::DoNotFollow);
            !status.isRegular() || status.owner != ::geteuid())
            continue;
        ::unlink(path.c_str());
    }
    ::closedir(dir);
#elif defined(PARVELLO_OS_WINDOWS)
    WIN32_FIND_DATAW entry{};
    const HANDLE find =
        FindFirstFileExW(win32::SystemPath(folder / (std::string(Marker) + '*')).c_str(),
                         FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        // Our names are ASCII: any other character makes the name another's.
        std::string name;
        for (const wchar_t* c = entry.cFileName; *c && *c < 0x80; ++c)
            name += char(*c);
        long long processId = 0;
        if (name.size() != std::wcslen(entry.cFileName) || !IsOwnTemporaryName(name, &processId) ||
            (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) !=
                0)
            continue;
        const std::filesystem::path path = folder / entry.cFileName;
        if (processId != ownProcessId() && !processRuns(processId) && ownedAsOurs(path))
            DeleteFileW(win32::SystemPath(path).c_str());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
#endif
}

} // namespace parvello
