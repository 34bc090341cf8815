#include "textio/writebehind.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include <io.h>
#endif

namespace parvello {

namespace {

std::atomic<int> filesInProgress{0};
std::atomic<bool> forced{false};

// Below this the thread's start and hand-overs cost more than the overlap gives.
constexpr std::int64_t WorthwhileBytes = std::int64_t(1) << 20;

int processors() {
    static const int count = int(std::max(1u, std::thread::hardware_concurrency()));
    return count;
}

} // namespace

FileInProgress::FileInProgress() {
    filesInProgress.fetch_add(1, std::memory_order_relaxed);
}

FileInProgress::~FileInProgress() {
    filesInProgress.fetch_sub(1, std::memory_order_relaxed);
}

bool WriteBehindWorthwhile(std::int64_t written) {
    if (forced.load(std::memory_order_relaxed))
        return true;
    return written >= WorthwhileBytes &&
           filesInProgress.load(std::memory_order_relaxed) < processors();
}

void ForceWriteBehindForTests(bool force) {
    forced.store(force, std::memory_order_relaxed);
}

#if defined(PARVELLO_OS_UNIX)

int WriteAll(int fd, const char* data, std::int64_t n) {
    while (n > 0) {
        const ssize_t written = ::write(fd, data, size_t(n));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        data += written;
        n -= written;
    }
    return 0;
}

#elif defined(PARVELLO_OS_WINDOWS)

// A descriptor of the C runtime: _write takes at most an unsigned int's worth at a time.
int WriteAll(int fd, const char* data, std::int64_t n) {
    while (n > 0) {
        const int written = ::_write(fd, data, unsigned(std::min<std::int64_t>(n, 1 << 30)));
        if (written < 0)
            return errno;
        data += written;
        n -= written;
    }
    return 0;
}

#endif

WriteBehind::WriteBehind(int fd) : memory_(Blocks * BlockBytes), thread_([this, fd] { run(fd); }) {}

WriteBehind::~WriteBehind() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

char* WriteBehind::block(std::uint64_t index) const {
    return memory_.data() + std::ptrdiff_t(index % Blocks) * BlockBytes;
}

void WriteBehind::run(int fd) {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || published_ > written_; });
        if (stopping_)
            return;
        const char* const data = block(written_);
        const std::ptrdiff_t size = sizes_[written_ % Blocks];
        lock.unlock();
        // After a failure nothing more is written: the file is discarded anyway.
        if (error_.load() == 0)
            if (const int error = WriteAll(fd, data, size))
                error_.store(error);
        lock.lock();
        ++written_;
        changed_.notify_all();
    }
}

void WriteBehind::publish() {
    {
        const std::lock_guard lock(mutex_);
        sizes_[published_ % Blocks] = std::exchange(filled_, 0);
        ++published_;
    }
    changed_.notify_all();
}

bool WriteBehind::put(const char* data, std::int64_t n) {
    while (n > 0 && error_.load() == 0) {
        if (filled_ == 0) { // a block to fill: wait until the thread is done with it
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return published_ - written_ < Blocks; });
        }
        const std::ptrdiff_t room = std::ptrdiff_t(std::min<std::int64_t>(n, BlockBytes - filled_));
        std::memcpy(block(published_) + filled_, data, size_t(room));
        filled_ += room;
        data += room;
        n -= room;
        if (filled_ == BlockBytes)
            publish();
    }
    return error_.load() == 0;
}

bool WriteBehind::finish() {
    if (filled_ > 0)
        publish();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return published_ == written_; });
    return error_.load() == 0;
}

} // namespace parvello
