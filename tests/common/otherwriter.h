// Another program that writes a file: a child process, so that the file's read lease is
// broken as a real writer breaks it.
#pragma once

#include "base/portable.h"

#include <filesystem>
#include <string>
#include <string_view>

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace parvello::testing {

#if defined(PARVELLO_OS_UNIX)
// A child that appends `bytes` to the file at `path`. It first asks to open the file without
// waiting, which starts the breaking of any lease on it, and tells the parent so before the
// constructor returns; then it waits, as a writer does, until the file may be opened,
// appends and ends. wait() returns once it has.
class AppendingWriter {
public:
    AppendingWriter(const std::filesystem::path& path, std::string_view bytes) {
        const std::string name = path.native();
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        child_ = ::fork();
        if (child_ == 0) {
            // Only its own handles: a copy of the parent's handle of the file would hold the
            // parent's lease for as long as this child waits for it.
            for (int fd = 3; fd < 4096; ++fd)
                if (fd != ready[1])
                    ::close(fd);
            int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK);
            const bool waited = fd < 0 && errno == EWOULDBLOCK;
            (void)!::write(ready[1], waited ? "w" : "o", 1);
            if (fd < 0)
                fd = ::open(name.c_str(), O_WRONLY | O_APPEND);
            const bool written =
                fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
            ::_exit(written ? 0 : 1);
        }
        ::close(ready[1]);
        char answer = 0;
        if (child_ > 0 && ::read(ready[0], &answer, 1) == 1)
            leaseBroken_ = answer == 'w';
        ::close(ready[0]);
    }
    ~AppendingWriter() { wait(); }
    // Whether the child found a lease in its way.
    bool leaseBroken() const { return leaseBroken_; }
    // True once the child appended.
    bool wait() {
        int status = 0;
        if (child_ > 0 && ::waitpid(child_, &status, 0) == child_)
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        child_ = -1;
        return exitCode_ == 0;
    }

private:
    pid_t child_ = -1;
    bool leaseBroken_ = false;
    int exitCode_ = -1;
};

// A child that holds the file at `path` open for writing, as a log writer does, until the
// object goes away.
class HeldOpenForWriting {
public:
    explicit HeldOpenForWriting(const std::filesystem::path& path) {
        const std::string name = path.native();
        int ready[2];
        if (::pipe(ready) != 0 || ::pipe(release_) != 0)
            return;
        child_ = ::fork();
        if (child_ == 0) {
            ::close(ready[0]);
            ::close(release_[1]);
            const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND);
            (void)!::write(ready[1], fd >= 0 ? "o" : "x", 1);
            char end = 0;
            (void)!::read(release_[0], &end, 1); // until the parent closes its end
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release_[0]);
        char answer = 0;
        open_ = child_ > 0 && ::read(ready[0], &answer, 1) == 1 && answer == 'o';
        ::close(ready[0]);
    }
    ~HeldOpenForWriting() {
        ::close(release_[1]);
        if (child_ > 0)
            ::waitpid(child_, nullptr, 0);
    }
    bool open() const { return open_; }

private:
    pid_t child_ = -1;
    int release_[2] = {-1, -1};
    bool open_ = false;
};
#endif

} // namespace parvello::testing
