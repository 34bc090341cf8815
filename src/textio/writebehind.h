// Writing behind for large files: a thread of the file's own writes its last blocks out
// while the file's thread works on the next ones. Memory stays bounded (a few blocks), and a
// file gets the thread only while a processor is free for it.
#pragma once

#include "textio/bufferpool.h"

#include "base/portable.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace parvello {

// Counts the files being worked on now (one per object), so that a large file is written
// behind only where fewer files are in progress than there are processors.
class FileInProgress {
public:
    FileInProgress();
    ~FileInProgress();
    FileInProgress(const FileInProgress&) = delete;
    FileInProgress& operator=(const FileInProgress&) = delete;
};

// Whether a file with this many bytes written so far is worth writing behind from now on:
// it is large (a mebibyte written already) and a processor is free.
bool WriteBehindWorthwhile(std::int64_t written);
// For tests: every file is written behind from its first write on, whatever the processors,
// so that the hand-overs are seen on small files and with pieces of a few bytes.
void ForceWriteBehindForTests(bool force);

// Writes all n bytes to an open file (a descriptor of the C runtime on Windows), again where
// a signal broke a write off; 0, or the system's error number of the write that failed.
int WriteAll(int fd, const char* data, std::int64_t n);

// Writes to an open file in the order given, behind put(): each put() copies the bytes into
// one of a few blocks that a thread of its own writes out. A failed write stops the writes
// after it and is told by the next put() or finish().
class WriteBehind {
public:
    static constexpr int Blocks = 4;
    static constexpr std::ptrdiff_t BlockBytes = std::ptrdiff_t(1) << 18;

    explicit WriteBehind(int fd);
    ~WriteBehind(); // what was put but not yet written is dropped
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // False (see error()) once a write has failed.
    bool put(const char* data, std::int64_t n);
    // Writes out everything put so far and waits for it; false (see error()) on failure.
    bool finish();
    // The system's error number of the write that failed; 0 while none has.
    int error() const { return error_.load(); }

private:
    void run(int fd);
    void publish();
    char* block(std::uint64_t index) const;

    PooledBuffer memory_;
    std::ptrdiff_t sizes_[Blocks] = {};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t published_ = 0; // blocks handed to the thread
    std::uint64_t written_ = 0;   // of those, the blocks it is done with
    bool stopping_ = false;
    std::ptrdiff_t filled_ = 0; // bytes in the block being filled (number published_)
    std::atomic<int> error_{0};
    std::thread thread_;
};

} // namespace parvello
