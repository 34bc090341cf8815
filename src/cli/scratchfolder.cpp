#include "cli/scratchfolder.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "textio/leftovers.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#if defined(PARVELLO_OS_UNIX)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(PARVELLO_OS_LINUX)
#include <sys/syscall.h>
#endif

namespace parvello {

namespace {

#if defined(PARVELLO_OS_UNIX)
// The folder to remove, where a signal handler can read it without taking a lock.
char registeredPath[4096];
#endif
std::atomic<bool> registered{false};
std::atomic<bool> ending{false};

#if defined(PARVELLO_OS_LINUX)
// One entry as the getdents64 system call gives it.
struct DirectoryEntry {
    std::uint64_t inode;
    std::int64_t offset;
    unsigned short length;
    unsigned char type;
    char name[1];
};
#endif

// Removes the registered folder and what it holds, once. Only system calls that a signal
// handler may make: the folder's entries are listed with getdents64 rather than readdir,
// which allocates. The engine may still be adding a file while this runs, so entries are
// removed until the folder itself can go.
void removeRegistered() {
    if (!registered.exchange(false))
        return;
#if defined(PARVELLO_OS_UNIX)
    for (int round = 0; round < 100; ++round) {
#if defined(PARVELLO_OS_LINUX)
        const int folder = ::open(registeredPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder < 0)
            return;
        alignas(8) char entries[4096];
        for (long got; (got = ::syscall(SYS_getdents64, folder, entries, sizeof entries)) > 0;) {
            for (long at = 0; at < got;) {
                const auto* entry = reinterpret_cast<const DirectoryEntry*>(entries + at);
                at += entry->length;
                const char* name = entry->name;
                if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                    continue;
                if (::unlinkat(folder, name, 0) != 0 && (errno == EISDIR || errno == EPERM))
                    ::unlinkat(folder, name, AT_REMOVEDIR);
            }
        }
        ::close(folder);
#endif
        if (::rmdir(registeredPath) == 0 || errno == ENOENT)
            return;
        if (errno != ENOTEMPTY && errno != EEXIST)
            return; // the marker in its name lets a later run remove it
    }
#endif
}

#if defined(PARVELLO_OS_UNIX)
extern "C" void onEndingSignal(int number) {
    ending = true;
    removeRegistered();
    // SA_RESETHAND gave the signal its default action back and SA_NODEFER leaves it
    // unblocked: raised again, it ends the process as it would have without the handler.
    ::raise(number);
}

// Removes the scratch folders of runs of this user's that are no longer running.
void removeLeftFolders(const std::string& temporaryFolder) {
    DIR* dir = ::opendir(temporaryFolder.c_str());
    if (!dir)
        return;
    std::vector<std::string> gone;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        long long processId = 0;
        if (!IsOwnTemporaryName(name, &processId) || processId == ::getpid())
            continue;
        if (::kill(pid_t(processId), 0) == 0 || errno != ESRCH)
            continue;
        std::string path = temporaryFolder + '/' + std::string(name);
        if (const FileStatus status =
                FileStatus::Of(std::filesystem::path(path), Links::DoNotFollow);
            status.isFolder() && status.owner == ::geteuid())
            gone.push_back(std::move(path));
    }
    ::closedir(dir);
    for (const std::string& path : gone) {
        std::error_code error;
        std::filesystem::remove_all(std::filesystem::path(path), error);
    }
}
#endif

// The system's temporary folder: $TMPDIR (or /tmp) on Unix, without a separator at its end.
std::filesystem::path temporaryFolder() {
#if defined(PARVELLO_OS_UNIX)
    const char* variable = std::getenv("TMPDIR");
    std::string folder = variable && *variable ? variable : "/tmp";
    folder = std::filesystem::path(folder).lexically_normal().native();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
#else
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path(L".") : folder;
#endif
}

} // namespace

ScratchFolder::ScratchFolder() {
    const std::filesystem::path temporary = temporaryFolder();
#if defined(PARVELLO_OS_UNIX)
    removeLeftFolders(temporary.native());
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const std::string path = TemporaryNameBeside(temporary / "x").native();
        if (path.size() >= sizeof registeredPath) {
            error = ENAMETOOLONG;
            break;
        }
        if (::mkdir(path.c_str(), 0700) != 0) {
            error = errno;
            continue;
        }
        std::memcpy(registeredPath, path.c_str(), path.size() + 1);
        registered = true;
        path_ = path;
        return;
    }
    error_ = std::strerror(error);
#else
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path path = TemporaryNameBeside(temporary / L"x");
        std::error_code error;
        if (std::filesystem::create_directory(path, error)) {
            path_ = path;
            return;
        }
    }
    error_ = "the folder could not be made";
#endif
}

void RemoveLeftScratchFolders() {
#if defined(PARVELLO_OS_UNIX)
    removeLeftFolders(temporaryFolder().native());
#endif
}

ScratchFolder::~ScratchFolder() {
#if defined(PARVELLO_OS_UNIX)
    removeRegistered();
#endif
    // Anything the listing above cannot reach (a folder the engine made inside).
    std::error_code error;
    if (!path_.empty())
        std::filesystem::remove_all(path_, error);
}

void InstallSignalCleanup() {
#if defined(PARVELLO_OS_UNIX)
    for (const int number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        struct sigaction old {};
        if (::sigaction(number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = onEndingSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(number, &action, nullptr);
    }
#endif
}

bool RunIsEnding() {
    return ending;
}

void StopAtClosedPipe() {
    ending = true;
    removeRegistered();
#ifdef SIGPIPE
    std::_Exit(128 + SIGPIPE);
#else
    std::_Exit(128 + 13);
#endif
}

} // namespace parvello
