// Running a piece of a test as a user whom permission bits really stop. Root ignores them,
// so as root the piece runs in a forked child that has dropped to the unprivileged
// "nobody" user and group; otherwise it runs directly. Only for pure file work (no GUI).
#pragma once

#include "base/portable.h"

#include <functional>
#include <vector>

#if defined(PARVELLO_OS_UNIX)
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace parvello::testing {

inline constexpr unsigned NobodyId = 65534;

inline bool RunningAsRoot() {
#if defined(PARVELLO_OS_UNIX)
    return ::geteuid() == 0;
#else
    return false;
#endif
}

// Runs body as an unprivileged user and returns its result (0..255), or -1 when the
// child could not drop its privileges or did not exit normally. As root the user may be
// made a member of the given groups besides its own.
inline int RunUnprivileged(const std::function<int()>& body,
                           const std::vector<unsigned>& groups = {}) {
#if defined(PARVELLO_OS_UNIX)
    if (!RunningAsRoot())
        return body();
    const pid_t child = ::fork();
    if (child == 0) {
        const std::vector<gid_t> ids(groups.begin(), groups.end());
        if (::setgroups(ids.size(), ids.data()) != 0 || ::setgid(NobodyId) != 0 ||
            ::setuid(NobodyId) != 0)
            ::_exit(255);
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
#else
    (void)groups;
    return body();
#endif
}

// Whether the unprivileged user may run the program at path. A build inside a folder only
// root may enter (mode 700, as `mktemp -d` makes) stops it before any test can mean anything.
inline bool UnprivilegedMayRun(const char* path) {
#if defined(PARVELLO_OS_UNIX)
    return RunUnprivileged([path] { return ::access(path, X_OK) == 0 ? 0 : 1; }) == 0;
#else
    (void)path;
    return true;
#endif
}

// Why UnprivilegedMayRun failed, for the test's failure message.
#define PARVELLO_UNREACHABLE_AS_NOBODY(path)                                                       \
    "the user nobody cannot run " path ": every folder above it must let other users in "          \
    "(mode 755), so build outside a private folder"

} // namespace parvello::testing
