#include "textio/bufferpool.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

#ifdef PARVELLO_OS_LINUX
#include <sys/mman.h>
#endif

// Under AddressSanitizer every buffer is its own allocation of the size asked for, so that a
// read or write past its end is caught rather than landing in the pool's next buffer.
#if defined(__SANITIZE_ADDRESS__)
#define PARVELLO_POOL_EACH_ALONE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PARVELLO_POOL_EACH_ALONE 1
#endif
#endif

namespace parvello {

namespace {

// Fresh buffers are cut from pieces of this size, aligned so that the system can back each
// with two huge pages.
constexpr std::ptrdiff_t PieceBytes = std::ptrdiff_t(4) << 20;
constexpr std::ptrdiff_t HugePageBytes = std::ptrdiff_t(2) << 20;
constexpr std::ptrdiff_t CutAlignment = 4096;

struct Spare {
    char* data;
    std::ptrdiff_t size;
};

struct Pool {
    std::mutex mutex;
    std::vector<Spare> spares; // buffers given back, to be handed out again
    char* piece = nullptr;     // where the next fresh buffer is cut
    std::ptrdiff_t room = 0;   // bytes left in the piece
};

Pool& pool() {
    // Never destroyed: buffers may still be given back while the process exits.
    static Pool* const thePool = new Pool;
    return *thePool;
}

char* newPiece(std::ptrdiff_t bytes) {
#ifdef PARVELLO_OS_LINUX
    // Ask for one huge page more, to cut an aligned piece out of the mapping.
    const size_t mapped = size_t(bytes + HugePageBytes);
    void* const start =
        ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (start == MAP_FAILED)
        throw std::bad_alloc();
    const auto first = reinterpret_cast<std::uintptr_t>(start);
    const std::uintptr_t aligned = (first + HugePageBytes - 1) & ~std::uintptr_t(HugePageBytes - 1);
    if (aligned > first)
        ::munmap(start, aligned - first);
    const std::uintptr_t end = first + mapped;
    if (end > aligned + std::uintptr_t(bytes))
        ::munmap(reinterpret_cast<void*>(aligned + bytes), end - aligned - bytes);
    char* const piece = reinterpret_cast<char*>(aligned);
    ::madvise(piece, size_t(bytes), MADV_HUGEPAGE); // a hint; without it pages come one by one
    return piece;
#else
    return static_cast<char*>(::operator new(size_t(bytes), std::align_val_t(CutAlignment)));
#endif
}

} // namespace

PooledBuffer::PooledBuffer(std::ptrdiff_t bytes) {
    if (bytes <= 0)
        return;
#ifdef PARVELLO_POOL_EACH_ALONE
    data_ = new char[size_t(bytes)];
    size_ = bytes;
    return;
#endif
    Pool& thePool = pool();
    const std::lock_guard lock(thePool.mutex);
    // The smallest spare that is large enough, so that a small request does not take the
    // buffer a larger one is about to ask for.
    auto best = thePool.spares.end();
    for (auto spare = thePool.spares.begin(); spare != thePool.spares.end(); ++spare)
        if (spare->size >= bytes && (best == thePool.spares.end() || spare->size < best->size))
            best = spare;
    if (best != thePool.spares.end()) {
        data_ = best->data;
        size_ = best->size;
        *best = thePool.spares.back();
        thePool.spares.pop_back();
        return;
    }
    const std::ptrdiff_t cut = (bytes + CutAlignment - 1) / CutAlignment * CutAlignment;
    if (cut > thePool.room) {
        if (cut >= PieceBytes) {
            data_ = newPiece(cut);
            size_ = cut;
            return;
        }
        thePool.piece = newPiece(PieceBytes);
        thePool.room = PieceBytes;
    }
    data_ = thePool.piece;
    size_ = cut;
    thePool.piece += cut;
    thePool.room -= cut;
}

PooledBuffer::PooledBuffer(PooledBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PooledBuffer& PooledBuffer::operator=(PooledBuffer&& other) noexcept {
    if (this != &other) {
        PooledBuffer old(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

PooledBuffer::~PooledBuffer() {
    if (!data_)
        return;
#ifdef PARVELLO_POOL_EACH_ALONE
    delete[] data_;
    return;
#endif
    Pool& thePool = pool();
    const std::lock_guard lock(thePool.mutex);
    try {
        thePool.spares.push_back({data_, size_});
    } catch (const std::bad_alloc&) {
        // Out of memory for the list: the buffer is simply not reused.
    }
}

} // namespace parvello
