#include "textio/leftovers.h"

#include "base/filestatus.h"
#include "base/portable.h"

#include <charconv>
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
#include <windows.h>
#endif

namespace parvello {

namespace {

constexpr std::string_view Marker = ".~pv";
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

} // namespace

std::filesystem::path TemporaryNameBeside(const std::filesystem::path& target) {
    return folderOf(target) /
           (std::string(Marker) + std::to_string(ownProcessId()) + '-' + randomLetters());
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
#if defined(PARVELLO_OS_UNIX)
    const std::filesystem::path folder = folderOf(target);
    static std::mutex mutex;
    static std::set<std::string> seen;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!seen.insert(folder.native()).second)
            return;
    }
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
#else
    (void)target;
#endif
}

} // namespace parvello
