#include "cli/scratchfolder.h"

#include "base/filestatus.h"
#include "base/qtpaths.h"
#include "textio/leftovers.h"

#include <QDir>
#include <QFile>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/syscall.h>
#endif

namespace parvello {

namespace {

// The folder to remove, where a signal handler can read it without taking a lock.
char registeredPath[4096];
std::atomic<bool> registered{false};
std::atomic<bool> ending{false};

#ifdef Q_OS_LINUX
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
#ifdef Q_OS_UNIX
    for (int round = 0; round < 100; ++round) {
#ifdef Q_OS_LINUX
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

#ifdef Q_OS_UNIX
extern "C" void onEndingSignal(int number) {
    ending = true;
    removeRegistered();
    // SA_RESETHAND gave the signal its default action back and SA_NODEFER leaves it
    // unblocked: raised again, it ends the process as it would have without the handler.
    ::raise(number);
}

// Removes the scratch folders of runs of this user's that are no longer running.
void removeLeftFolders(const QByteArray& temporaryFolder) {
    DIR* dir = ::opendir(temporaryFolder.constData());
    if (!dir)
        return;
    QList<QByteArray> gone;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        long long processId = 0;
        if (!IsOwnTemporaryName(std::string_view(name.constData(), size_t(name.size())),
                                &processId) ||
            processId == ::getpid())
            continue;
        if (::kill(pid_t(processId), 0) == 0 || errno != ESRCH)
            continue;
        const QByteArray path = temporaryFolder + '/' + name;
        if (const FileStatus status =
                FileStatus::Of(std::filesystem::path(path.toStdString()), Links::DoNotFollow);
            status.isFolder() && status.owner == ::geteuid())
            gone << path;
    }
    ::closedir(dir);
    for (const QByteArray& path : gone)
        QDir(QFile::decodeName(path)).removeRecursively();
}
#endif

} // namespace

ScratchFolder::ScratchFolder() {
    const QByteArray temporaryFolder = QFile::encodeName(QDir::tempPath());
#ifdef Q_OS_UNIX
    removeLeftFolders(temporaryFolder);
    int error = EEXIST;
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        const QByteArray path = QByteArray::fromStdString(
            TemporaryNameBeside(std::filesystem::path((temporaryFolder + "/x").toStdString()))
                .native());
        if (path.size() >= qsizetype(sizeof registeredPath)) {
            error = ENAMETOOLONG;
            break;
        }
        if (::mkdir(path.constData(), 0700) != 0) {
            error = errno;
            continue;
        }
        std::memcpy(registeredPath, path.constData(), size_t(path.size()) + 1);
        registered = true;
        path_ = QFile::decodeName(path);
        return;
    }
    error_ = QString::fromLocal8Bit(std::strerror(error));
#else
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path = ToQString(TemporaryNameBeside(ToPath(QDir::tempPath() + "/x")));
        if (QDir().mkdir(path)) {
            path_ = path;
            return;
        }
    }
    error_ = QStringLiteral("the folder could not be made");
#endif
}

void RemoveLeftScratchFolders() {
#ifdef Q_OS_UNIX
    removeLeftFolders(QFile::encodeName(QDir::tempPath()));
#endif
}

ScratchFolder::~ScratchFolder() {
#ifdef Q_OS_UNIX
    removeRegistered();
    // Anything the listing above cannot reach (a folder the engine made inside).
    if (!path_.isEmpty() && QFile::exists(path_))
        QDir(path_).removeRecursively();
#else
    if (!path_.isEmpty())
        QDir(path_).removeRecursively();
#endif
}

void InstallSignalCleanup() {
#ifdef Q_OS_UNIX
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
