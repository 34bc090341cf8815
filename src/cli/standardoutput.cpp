#include "cli/standardoutput.h"

#include "cli/scratchfolder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace parvello {

namespace {

std::mutex writing;
std::atomic<int> failure{0}; // the error number of the first failed write or close

void fail(int number) {
    if (number == EPIPE)
        StopAtClosedPipe();
    int none = 0;
    failure.compare_exchange_strong(none, number);
}

} // namespace

bool WriteStdout(QByteArrayView bytes) {
    const std::lock_guard lock(writing);
    if (failure != 0 || RunIsEnding())
        return false;
    const char* at = bytes.data();
    for (qsizetype left = bytes.size(); left > 0;) {
#ifdef Q_OS_WIN
        const int written = ::_write(1, at, unsigned(std::min<qsizetype>(left, 1 << 30)));
#else
        const ssize_t written = ::write(1, at, size_t(left));
#endif
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            fail(written < 0 ? errno : EIO);
            return false;
        }
        at += written;
        left -= written;
    }
    return true;
}

bool StdoutFailed() {
    return failure != 0;
}

QString FinishStdout() {
    const std::lock_guard lock(writing);
    if (failure == 0) {
#ifdef Q_OS_WIN
        if (::_close(1) != 0 && errno != EBADF)
            fail(errno);
#else
        // EBADF: standard output was closed before the run; a write to it would have failed.
        if (::close(1) != 0 && errno != EINTR && errno != EBADF)
            fail(errno);
#endif
    }
    return failure == 0 ? QString() : QString::fromLocal8Bit(std::strerror(failure));
}

} // namespace parvello
