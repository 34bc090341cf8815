// Searches kept inline for the callers that stop at every hit: the places of three bytes
// (ByteHits) and the units that stop a copy (StopUnits), sixteen bytes at a time at the
// SSE2 level and above, one at a time at the plain level.
#pragma once

#include "textio/simd/level.h"

#include "base/portable.h"

#include <array>
#include <bit>

#if PARVELLO_X86_VECTORS
#include <emmintrin.h>
#endif

namespace parvello {

// The places of three bytes in bytes[0..n), visited in order. Sixteen bytes are compared at
// once and the hits of a block are kept, so that a caller that stops at every hit does not
// search the same block again (lines with many quotes, a buffer with many line breaks).
// At the plain level, one byte at a time.
class ByteHits {
public:
    ByteHits(const char* bytes, std::ptrdiff_t n, const std::array<char, 3>& chars)
        : bytes_(bytes), n_(n), chars_(chars) {
#if PARVELLO_X86_VECTORS
        vectors_ = chosenScanLevel >= ScanLevel::Sse2;
        vectorEnd_ = vectors_ ? n : 0;
        a_ = _mm_set1_epi8(chars[0]);
        b_ = _mm_set1_epi8(chars[1]);
        c_ = _mm_set1_epi8(chars[2]);
#endif
    }

    // The same three bytes searched in another range (the vectors are not set up again).
    ByteHits(const ByteHits& like, const char* bytes, std::ptrdiff_t n) : ByteHits(like) {
        bytes_ = bytes;
        n_ = n;
#if PARVELLO_X86_VECTORS
        vectorEnd_ = vectors_ ? n : 0;
        block_ = -32;
        mask_ = 0;
#endif
    }

    // The first hit at or after from, or n.
    std::ptrdiff_t next(std::ptrdiff_t from) {
#if PARVELLO_X86_VECTORS
        for (;;) {
            if (from >= block_ && from < block_ + 16) {
                const unsigned mask = mask_ & (~0u << (from - block_));
                if (mask)
                    return block_ + std::countr_zero(mask);
                from = block_ + 16;
            }
            if (from >= n_)
                return n_;
            if (from + 16 <= vectorEnd_) {
                block_ = from;
            } else if (vectorEnd_ >= 16) {
                block_ = n_ - 16; // the last sixteen bytes, some of them seen already
            } else {
                break;
            }
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes_ + block_));
            mask_ = unsigned(_mm_movemask_epi8(
                _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a_), _mm_cmpeq_epi8(v, b_)),
                             _mm_cmpeq_epi8(v, c_))));
        }
#endif
        for (; from < n_; ++from)
            if (bytes_[from] == chars_[0] || bytes_[from] == chars_[1] || bytes_[from] == chars_[2])
                return from;
        return n_;
    }

private:
    const char* bytes_;
    std::ptrdiff_t n_;
    std::array<char, 3> chars_;
#if PARVELLO_X86_VECTORS
    __m128i a_, b_, c_;
    std::ptrdiff_t vectorEnd_ = 0; // n_, or 0 at the plain level: where blocks may end
    bool vectors_ = true;
    std::ptrdiff_t block_ = -32; // the block whose hits mask_ holds
    unsigned mask_ = 0;
#endif
};

// Up to five units that stop a copy (line breaks and the last units of quotes), looked for
// all at once: with vectors, sixteen bytes at a time (mask()); without, one unit at a time
// (isStop()), which finds the same places.
template <class Unit> class StopUnits {
public:
    // Units in one vector.
    static constexpr std::ptrdiff_t Width = std::ptrdiff_t(16 / sizeof(Unit));

    // Units given twice are looked for once. Without vectors (the default at the plain
    // level), mask() is not used.
    explicit StopUnits(const std::array<Unit, 5>& units,
                       bool vectors = chosenScanLevel >= ScanLevel::Sse2)
        : units_(units) {
        if constexpr (sizeof(Unit) == 1)
            for (const Unit u : units)
                table_[static_cast<unsigned char>(u)] = true;
#if PARVELLO_X86_VECTORS
        vectors_ = vectors;
        for (size_t k = 0; k < 5; ++k)
            vec_[k] =
                sizeof(Unit) == 1 ? _mm_set1_epi8(char(units[k])) : _mm_set1_epi16(short(units[k]));
#else
        (void)vectors;
#endif
    }

    bool isStop(Unit u) const {
        if constexpr (sizeof(Unit) == 1)
            return table_[static_cast<unsigned char>(u)];
        else
            return u == units_[0] || u == units_[1] || u == units_[2] || u == units_[3] ||
                   u == units_[4];
    }

#if PARVELLO_X86_VECTORS
    bool vectors() const {
        return vectors_;
    }
    // Bit k * sizeof(Unit) is set when units[k] stops, for k below Width.
    unsigned mask(const Unit* units) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
        const auto eq = [&](size_t k) {
            return sizeof(Unit) == 1 ? _mm_cmpeq_epi8(v, vec_[k]) : _mm_cmpeq_epi16(v, vec_[k]);
        };
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(eq(0), eq(1)), _mm_or_si128(eq(2), eq(3))), eq(4));
        const unsigned bits = unsigned(_mm_movemask_epi8(hit));
        return sizeof(Unit) == 1 ? bits : bits & 0x5555u;
    }
    // mask(), with the bits of the first two stop units apart in first and second.
    unsigned mask(const Unit* units, unsigned& first, unsigned& second) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units));
        const auto eq = [&](size_t k) {
            return sizeof(Unit) == 1 ? _mm_cmpeq_epi8(v, vec_[k]) : _mm_cmpeq_epi16(v, vec_[k]);
        };
        const __m128i a = eq(0);
        const __m128i b = eq(1);
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(eq(2), eq(3))), eq(4));
        const unsigned keep = sizeof(Unit) == 1 ? 0xFFFFu : 0x5555u;
        first = unsigned(_mm_movemask_epi8(a)) & keep;
        second = unsigned(_mm_movemask_epi8(b)) & keep;
        return unsigned(_mm_movemask_epi8(hit)) & keep;
    }
#else
    bool vectors() const {
        return false;
    }
    unsigned mask(const Unit*) const {
        return 0;
    }
    unsigned mask(const Unit*, unsigned& first, unsigned& second) const {
        first = second = 0;
        return 0;
    }
#endif

private:
#if PARVELLO_X86_VECTORS
    __m128i vec_[5];
    bool vectors_ = true;
#endif
    std::array<Unit, 5> units_;
    std::array<bool, sizeof(Unit) == 1 ? 256 : 1> table_{};
};

} // namespace parvello
