// Large working buffers (reads, stages, writes) shared by every file of a run.
#pragma once

#include "base/portable.h"

namespace parvello {

// A byte buffer from the process's pool. A run over many files reuses a few buffers instead
// of faulting in fresh ones for each, and fresh ones are cut from large pieces of memory that
// the system may back with huge pages: on a virtual machine every first touch of a 4 KiB page
// costs microseconds, which adds up to milliseconds for the few MiB each file thread needs.
// The pool never gives memory back; it holds what the busiest moment of the process needed.
// A buffer carries no file's state from one owner to the next.
class PooledBuffer {
public:
    explicit PooledBuffer(std::ptrdiff_t bytes);
    ~PooledBuffer();
    PooledBuffer(PooledBuffer&& other) noexcept;
    PooledBuffer& operator=(PooledBuffer&& other) noexcept;
    char* data() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }

private:
    char* data_ = nullptr;
    std::ptrdiff_t size_ = 0;
};

} // namespace parvello
