#include "cli/standardoutput.h"

#include "base/portable.h"
#include "base/printabletext.h"
#include "cli/scratchfolder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

#if defined(PARVELLO_OS_WINDOWS)
#include <windows.h>
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

#if defined(PARVELLO_OS_WINDOWS)

HANDLE handleOf(int descriptor) {
    return GetStdHandle(descriptor == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool isConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

// Writes all the bytes; the error number of a failure, or 0. A console is given the text
// as characters, so that it shows every one whatever its code page; a pipe or file gets
// the UTF-8 bytes.
int writeAll(int descriptor, std::string_view bytes) {
    const HANDLE handle = handleOf(descriptor);
    if (isConsole(handle)) {
        const std::u16string units = Utf16Of(bytes);
        for (size_t at = 0; at < units.size();) {
            DWORD written = 0;
            const auto chunk = DWORD(std::min<size_t>(units.size() - at, 1 << 14));
            if (!WriteConsoleW(handle, units.data() + at, chunk, &written, nullptr) || written == 0)
                return EIO;
            at += written;
        }
        return 0;
    }
    for (size_t at = 0; at < bytes.size();) {
        DWORD written = 0;
        const auto chunk = DWORD(std::min<size_t>(bytes.size() - at, 1 << 30));
        if (!WriteFile(handle, bytes.data() + at, chunk, &written, nullptr) || written == 0)
            return GetLastError() == ERROR_NO_DATA || GetLastError() == ERROR_BROKEN_PIPE ? EPIPE
                                                                                          : EIO;
        at += written;
    }
    return 0;
}

#else

int writeAll(int descriptor, std::string_view bytes) {
    const char* at = bytes.data();
    for (size_t left = bytes.size(); left > 0;) {
        const ssize_t written = ::write(descriptor, at, left);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written < 0 ? errno : EIO;
        at += written;
        left -= size_t(written);
    }
    return 0;
}

#endif

} // namespace

bool WriteStdout(std::string_view bytes) {
    const std::lock_guard lock(writing);
    if (failure != 0 || RunIsEnding())
        return false;
    if (const int error = writeAll(1, bytes); error != 0) {
        fail(error);
        return false;
    }
    return true;
}

bool StdoutFailed() {
    return failure != 0;
}

std::string FinishStdout() {
    const std::lock_guard lock(writing);
    if (failure == 0) {
#if defined(PARVELLO_OS_WINDOWS)
        const HANDLE handle = handleOf(1);
        // No handle: standard output was closed before the run.
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr && !CloseHandle(handle))
            fail(EIO);
#else
        // EBADF: standard output was closed before the run; a write to it would have failed.
        if (::close(1) != 0 && errno != EINTR && errno != EBADF)
            fail(errno);
#endif
    }
    return failure == 0 ? std::string() : std::string(std::strerror(failure));
}

void WriteStderr(std::string_view text) {
    writeAll(2, text);
}

bool StderrIsTerminal() {
#if defined(PARVELLO_OS_WINDOWS)
    return isConsole(handleOf(2));
#else
    return ::isatty(2) != 0;
#endif
}

bool StdoutIsTerminal() {
#if defined(PARVELLO_OS_WINDOWS)
    return isConsole(handleOf(1));
#else
    return ::isatty(1) != 0;
#endif
}

} // namespace parvello
