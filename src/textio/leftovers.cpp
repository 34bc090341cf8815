#include "textio/leftovers.h"

#include "base/filestatus.h"

#include <QCoreApplication>
#include <QRandomGenerator>

#include <mutex>
#include <set>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <unistd.h>
#endif

namespace parvello {

namespace {

const QByteArray Marker = ".~pv";
constexpr int RandomLength = 6;

#ifdef Q_OS_UNIX
// The running process's id, asked for once: the program never forks to go on as another
// process, and each file written asks for it.
long long ownProcessId() {
    static const long long id = ::getpid();
    return id;
}
#endif

bool isAlphaNumeric(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

QByteArray folderOf(const QByteArray& target) {
    const std::ptrdiff_t slash = target.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
}

} // namespace

QByteArray TemporaryNameBeside(const QByteArray& target) {
    static constexpr char letters[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray random(RandomLength, '0');
    for (char& c : random)
        c = letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
#ifdef Q_OS_UNIX
    const long long processId = ownProcessId();
#else
    const long long processId = QCoreApplication::applicationPid();
#endif
    return folderOf(target) + '/' + Marker + QByteArray::number(processId) + '-' + random;
}

bool IsOwnTemporaryName(const QByteArray& name, long long* processId) {
    if (!name.startsWith(Marker))
        return false;
    const std::ptrdiff_t dash = name.indexOf('-', Marker.size());
    if (dash <= Marker.size() || name.size() - dash - 1 != RandomLength)
        return false;
    bool isNumber = false;
    const long long id = name.mid(Marker.size(), dash - Marker.size()).toLongLong(&isNumber);
    if (!isNumber || id <= 0)
        return false;
    for (qsizetype i = dash + 1; i < name.size(); ++i)
        if (!isAlphaNumeric(name[i]))
            return false;
    if (processId)
        *processId = id;
    return true;
}

void RemoveLeftoversBeside(const QByteArray& target) {
#ifdef Q_OS_UNIX
    const QByteArray folder = folderOf(target);
    static std::mutex mutex;
    static std::set<QByteArray> seen;
    {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!seen.insert(folder).second)
            return;
    }
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        long long processId = 0;
        if (!IsOwnTemporaryName(name, &processId))
            continue;
        // Only a process that is gone leaves its file for good.
        if (processId == ownProcessId() || ::kill(pid_t(processId), 0) == 0 || errno != ESRCH)
            continue;
        // And only a file of the running user's is ours: another user's file of such a name
        // is theirs, even where this user may remove it.
        const QByteArray path = folder + '/' + name;
        if (const FileStatus status =
                FileStatus::Of(std::filesystem::path(path.toStdString()), Links::DoNotFollow);
            !status.isRegular() || status.owner != ::geteuid())
            continue;
        ::unlink(path.constData());
    }
    ::closedir(dir);
#else
    Q_UNUSED(target);
#endif
}

} // namespace parvello
