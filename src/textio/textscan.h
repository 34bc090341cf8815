// The inner loops over text: UTF-8 decoding, UTF-8 encoding and the searches for line
// breaks and quote characters. Each comes in a plain version and, on x86-64 with GCC or
// Clang, in vector versions (SSE2, which every x86-64 processor has, and AVX2 where the
// processor offers it, checked at run time). Every version gives exactly the same result;
// the plain one is the reference and runs on every other system.
#pragma once

#include <QtGlobal>

#include <array>
#include <bit>
#include <cstdint>

#if defined(__SSE2__) && !defined(PARVELLO_NO_VECTORS)
#define PARVELLO_SSE2_HITS 1
#include <emmintrin.h>
#endif

namespace parvello {

// Which version of the loops runs.
enum class ScanLevel {
    Plain,  // one unit at a time
    Sse2,   // 16 bytes at a time
    Avx2,   // 32 bytes at a time
    Avx512, // the UTF-8 check 64 bytes at a time (AVX-512 with VBMI), else as Avx2
};

// The best version this processor runs.
ScanLevel BestScanLevel();
// Whether this build and processor can run the given version.
bool ScanLevelAvailable(ScanLevel level);

// The loops of one level:
// - findLineBreak: where the first CR or LF is in units[0..n), or n when there is none;
// - findCarriageReturn: where the first CR is, or n;
// - findAnyOf3: where the first of three characters is, or n;
// - encodeUtf8: UTF-8 of units[0..n) at out, which has room for three bytes per unit;
//   returns the end of what was written, or null at an unpaired surrogate;
// - findAnyOf3Bytes: where the first of three bytes is in bytes[0..n), or n;
// - asciiPrefix: how many bytes at the start of bytes[0..n) are ASCII (below 0x80).
struct ScanKernels {
    qsizetype (*findLineBreak)(const char16_t* units, qsizetype n);
    qsizetype (*findCarriageReturn)(const char16_t* units, qsizetype n);
    qsizetype (*findAnyOf3)(const char16_t* units, qsizetype n,
                            const std::array<char16_t, 3>& chars);
    char* (*encodeUtf8)(const char16_t* units, qsizetype n, char* out);
    qsizetype (*findAnyOf3Bytes)(const char* bytes, qsizetype n, const std::array<char, 3>& chars);
    qsizetype (*asciiPrefix)(const char* bytes, qsizetype n);
};

// The loops of a level (the plain ones for a level that cannot run here).
const ScanKernels& ScanKernelsFor(ScanLevel level);
// The loops of the best level, chosen once when the program starts.
extern const ScanKernels& bestScanKernels;

inline qsizetype FindLineBreak(const char16_t* units, qsizetype n) {
    return bestScanKernels.findLineBreak(units, n);
}
inline qsizetype FindCarriageReturn(const char16_t* units, qsizetype n) {
    return bestScanKernels.findCarriageReturn(units, n);
}
inline qsizetype FindAnyOf3(const char16_t* units, qsizetype n,
                            const std::array<char16_t, 3>& chars) {
    return bestScanKernels.findAnyOf3(units, n, chars);
}
inline char* EncodeUtf8Units(const char16_t* units, qsizetype n, char* out) {
    return bestScanKernels.encodeUtf8(units, n, out);
}

inline qsizetype FindAnyOf3Bytes(const char* bytes, qsizetype n, const std::array<char, 3>& chars) {
    return bestScanKernels.findAnyOf3Bytes(bytes, n, chars);
}
// Where the first CR or LF byte is, or n.
inline qsizetype FindLineBreakByte(const char* bytes, qsizetype n) {
    return bestScanKernels.findAnyOf3Bytes(bytes, n, {'\r', '\n', '\n'});
}
// Where the first CR byte is, or n.
qsizetype FindCarriageReturnByte(const char* bytes, qsizetype n);

// The places of three bytes in bytes[0..n), visited in order. Sixteen bytes are compared at
// once and the hits of a block are kept, so that a caller that stops at every hit does not
// search the same block again (lines with many quotes, a buffer with many line breaks).
class ByteHits {
public:
    ByteHits(const char* bytes, qsizetype n, const std::array<char, 3>& chars)
        : bytes_(bytes), n_(n), chars_(chars) {
#if PARVELLO_SSE2_HITS
        a_ = _mm_set1_epi8(chars[0]);
        b_ = _mm_set1_epi8(chars[1]);
        c_ = _mm_set1_epi8(chars[2]);
#endif
    }

    // The same three bytes searched in another range (the vectors are not set up again).
    ByteHits(const ByteHits& like, const char* bytes, qsizetype n) : ByteHits(like) {
        bytes_ = bytes;
        n_ = n;
#if PARVELLO_SSE2_HITS
        block_ = -32;
        mask_ = 0;
#endif
    }

    // The first hit at or after from, or n.
    qsizetype next(qsizetype from) {
#if PARVELLO_SSE2_HITS
        for (;;) {
            if (from >= block_ && from < block_ + 16) {
                const unsigned mask = mask_ & (~0u << (from - block_));
                if (mask)
                    return block_ + std::countr_zero(mask);
                from = block_ + 16;
            }
            if (from >= n_)
                return n_;
            if (from + 16 <= n_) {
                block_ = from;
            } else if (n_ >= 16) {
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
    qsizetype n_;
    std::array<char, 3> chars_;
#if PARVELLO_SSE2_HITS
    __m128i a_, b_, c_;
    qsizetype block_ = -32; // the block whose hits mask_ holds
    unsigned mask_ = 0;
#endif
};

// Up to five units that stop a copy (line breaks and the last units of quotes), looked for
// all at once: with vectors, sixteen bytes at a time (mask()); without, one unit at a time
// (isStop()), which finds the same places.
template <class Unit> class StopUnits {
public:
    // Units in one vector.
    static constexpr qsizetype Width = qsizetype(16 / sizeof(Unit));

    // Units given twice are looked for once.
    explicit StopUnits(const std::array<Unit, 5>& units, bool vectors = true) : units_(units) {
        if constexpr (sizeof(Unit) == 1)
            for (const Unit u : units)
                table_[uchar(u)] = true;
#if PARVELLO_SSE2_HITS
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
            return table_[uchar(u)];
        else
            return u == units_[0] || u == units_[1] || u == units_[2] || u == units_[3] ||
                   u == units_[4];
    }

#if PARVELLO_SSE2_HITS
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
#if PARVELLO_SSE2_HITS
    __m128i vec_[5];
    bool vectors_ = true;
#endif
    std::array<Unit, 5> units_;
    std::array<bool, sizeof(Unit) == 1 ? 256 : 1> table_{};
};

// The n UTF-16 units of bytes[0..2n) (big-endian when bigEndian) copied to out, in one
// pass that also tells whether any of them is half of a surrogate pair (D800..DFFF), so
// that only then their pairing needs a look. Out may be any buffer.
bool DecodeUtf16Units(const char* bytes, qsizetype n, bool bigEndian, char16_t* out);

// A rule for the vector pass below: each quote's bytes in the encoding (one or three bytes;
// none where the encoding has no bytes for it) and what it becomes: nothing, one byte in
// its place, or (a quote of three bytes) its own first two bytes and another last one.
struct PassQuotes {
    std::array<std::array<char, 3>, 3> bytes{};
    std::array<int, 3> length{};
    std::array<int, 3> kept{};  // of the quote's bytes, how many stay: 0, 1 or all 3
    std::array<char, 3> last{}; // what the last of them becomes
};
// The same for decoded text: the family's three quotes, one unit each, and each removed or
// replaced by one unit.
struct PassUnits {
    std::array<char16_t, 3> quotes{};
    std::array<bool, 3> removed{};
    std::array<char16_t, 3> becomes{};
};
// What the pass below carries from one call to the next over the same block: whether the
// byte before was a CR, and each three-byte quote's first two bytes there. Cleared at a
// block's start (and where a caller took the bytes before itself).
struct QuotesPassCarry {
    std::uint64_t crBefore = 0;
    std::array<std::uint64_t, 3> firstBefore{};
    std::array<std::uint64_t, 3> secondBefore{};
};

// One pass over the whole 64-byte groups of bytes[i..end) that writes to out what the
// engine's pass writes for them: the rule's quotes as they become and, when lineBreaks, each
// lone CR or lone LF made CR LF (a CR LF stays as it is; the byte after each group is looked
// at, so end must then lie before the block's last byte). Without lineBreaks every line
// break stays as it is; a quote's result is never a line break. A quote whose first bytes
// lie before i is seen through carry; where they were written to out already and go, out is
// moved back over them. Returns the end of the last group it took: end's last whole group,
// or the start of a group where a removed quote stands between a lone CR and a lone LF (the
// caller takes that group itself). out moves past what was written, at most 128 bytes a
// group, and up to 128 bytes past its new end may be overwritten. Available where the
// processor has AVX-512 with VBMI2 (64 bytes at a time with no branch on where the quotes
// and line breaks are) or AVX2 (a copy for each run of quote bytes that go and each line
// end made; it takes every group); elsewhere it returns i.
bool QuotesPassAvailable();
qsizetype QuotesPass(const char* bytes, qsizetype i, qsizetype end, char*& out,
                     const PassQuotes& quotes, bool lineBreaks, QuotesPassCarry& carry);
// The same for decoded text, 32 units at a time: at most 64 units a group written, and up to
// 64 past out's new end overwritten.
qsizetype QuotesPass(const char16_t* units, qsizetype i, qsizetype end, char16_t*& out,
                     const PassUnits& quotes, bool lineBreaks, QuotesPassCarry& carry);
// For tests: the passes above are not available while off, so that the engine's other pass is
// tested on a processor that has it too.
void TurnQuotesPassOffForTests(bool off);
// For tests: the pass for processors with at most that level is used (below Avx2: none).
void LimitQuotesPassForTests(ScanLevel level);

// What a check of bytes as UTF-8 found.
struct Utf8Check {
    bool valid = false;    // every sequence complete and well-formed, by the decoder's rules
    bool nonAscii = false; // at least one byte above 0x7F
};
// Checks bytes[0..n) as UTF-8 with exactly the rules of Utf8Decoder, without decoding them.
Utf8Check CheckUtf8(const char* bytes, qsizetype n, ScanLevel level = BestScanLevel());

// The same check made while a buffer fills: feed() checks what was added since the last call
// (a sequence cut off where the bytes end waits for the next call), so that each part is
// checked while it is still in the cache.
class Utf8Checker {
public:
    explicit Utf8Checker(ScanLevel level = BestScanLevel());
    // Checks bytes[0..filled) from where the last call stopped. False once a sequence is
    // invalid. Every call passes the same buffer, filled further.
    bool feed(const char* bytes, qsizetype filled);
    // The check of bytes[0..total) once all of them were fed.
    Utf8Check finish(const char* bytes, qsizetype total);

private:
    ScanLevel level_;
    qsizetype checked_ = 0; // -1 after an invalid sequence
    bool nonAscii_ = false;
};

// A strict UTF-8 decoder fed chunk after chunk: a sequence may straddle two chunks. Invalid
// bytes (a stray continuation byte, an overlong form, an encoded surrogate, a value above
// U+10FFFF, a lead byte without its continuation bytes) make it fail. As a decoder of a
// text stream, it drops one byte-order mark (U+FEFF) at the very start of the stream.
class Utf8Decoder {
public:
    // The most units decode() writes beyond the units it returns: out needs room for
    // n + Slack units.
    static constexpr qsizetype Slack = 40;

    Utf8Decoder() : level_(BestScanLevel()) {}
    explicit Utf8Decoder(ScanLevel level) : level_(level) {}

    // Keeps a U+FEFF at the start of the stream as text: for a caller that has already
    // taken the file's own mark off, a second one is part of the text.
    void keepLeadingMark() { atStart_ = false; }

    // Decodes n more bytes to out and returns the end of the units written, or null when
    // the bytes are not valid UTF-8 (the decoder then stays failed).
    char16_t* decode(const char* bytes, qsizetype n, char16_t* out);
    // True when the bytes fed so far ended at the end of a character and nothing failed.
    bool finish() const { return !failed_ && pendingCount_ == 0; }

private:
    char16_t* decodeFrom(const unsigned char* in, const unsigned char* end, char16_t* out);

    ScanLevel level_;
    bool failed_ = false;
    bool atStart_ = true;
    int pendingCount_ = 0;
    unsigned char pending_[4] = {};
};

} // namespace parvello
