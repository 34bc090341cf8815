#include "textio/textscan.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__) && !defined(PARVELLO_NO_VECTORS)
#define PARVELLO_X86_VECTORS 1
#include <immintrin.h>
#endif

namespace parvello {

namespace {

// ---- One unit at a time: the reference every vector version must match. ----

qsizetype findLineBreakPlain(const char16_t* units, qsizetype i, qsizetype n) {
    for (; i < n; ++i)
        if (units[i] == u'\r' || units[i] == u'\n')
            return i;
    return n;
}

qsizetype findUnitPlain(const char16_t* units, qsizetype i, qsizetype n, char16_t unit) {
    for (; i < n; ++i)
        if (units[i] == unit)
            return i;
    return n;
}

qsizetype findAnyOf3Plain(const char16_t* units, qsizetype i, qsizetype n,
                          const std::array<char16_t, 3>& chars) {
    for (; i < n; ++i)
        if (units[i] == chars[0] || units[i] == chars[1] || units[i] == chars[2])
            return i;
    return n;
}

qsizetype findAnyOf3BytesPlain(const char* bytes, qsizetype i, qsizetype n,
                               const std::array<char, 3>& chars) {
    for (; i < n; ++i)
        if (bytes[i] == chars[0] || bytes[i] == chars[1] || bytes[i] == chars[2])
            return i;
    return n;
}

qsizetype asciiPrefixPlain(const char* bytes, qsizetype i, qsizetype n) {
    while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    return i;
}

// Encodes the character at units[i] (not ASCII) and moves i past it; null at an unpaired
// surrogate.
inline char* encodeOneUtf8(const char16_t* units, qsizetype& i, qsizetype n, char* out) {
    const char16_t unit = units[i];
    if (unit < 0x80) {
        *out++ = char(unit);
    } else if (unit < 0x800) {
        *out++ = char(0xC0 | (unit >> 6));
        *out++ = char(0x80 | (unit & 0x3F));
    } else if (unit < 0xD800 || unit > 0xDFFF) {
        *out++ = char(0xE0 | (unit >> 12));
        *out++ = char(0x80 | ((unit >> 6) & 0x3F));
        *out++ = char(0x80 | (unit & 0x3F));
    } else if (unit <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
        const char32_t cp = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
        *out++ = char(0xF0 | (cp >> 18));
        *out++ = char(0x80 | ((cp >> 12) & 0x3F));
        *out++ = char(0x80 | ((cp >> 6) & 0x3F));
        *out++ = char(0x80 | (cp & 0x3F));
        ++i;
    } else {
        return nullptr;
    }
    ++i;
    return out;
}

char* encodeUtf8Plain(const char16_t* units, qsizetype n, char* out) {
    for (qsizetype i = 0; i < n;)
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    return out;
}

// The outcome of decoding one UTF-8 sequence that begins with a byte above 0x7F.
enum class Sequence { Complete, Incomplete, Invalid };

// Checks the sequence at p (at most avail bytes there) and decodes it into cp and its
// length. Incomplete when the bytes there are a valid beginning of a longer sequence.
inline Sequence decodeSequence(const unsigned char* p, qsizetype avail, char32_t& cp, int& length) {
    const unsigned char lead = p[0];
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0xC2) {
        return Sequence::Invalid; // a continuation byte or an overlong two-byte form
    } else if (lead < 0xE0) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead < 0xF0) {
        length = 3;
        cp = lead & 0x0F;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        else if (lead == 0xED)
            high = 0x9F; // a surrogate
    } else if (lead < 0xF5) {
        length = 4;
        cp = lead & 0x07;
        if (lead == 0xF0)
            low = 0x90; // overlong
        else if (lead == 0xF4)
            high = 0x8F; // above U+10FFFF
    } else {
        return Sequence::Invalid;
    }
    for (int k = 1; k < length; ++k) {
        if (k >= avail)
            return Sequence::Incomplete;
        const unsigned char byte = p[k];
        if (byte < low || byte > high)
            return Sequence::Invalid;
        low = 0x80;
        high = 0xBF;
        cp = (cp << 6) | (byte & 0x3F);
    }
    return Sequence::Complete;
}

inline char16_t* putCodePoint(char32_t cp, char16_t* out) {
    if (cp < 0x10000) {
        *out++ = char16_t(cp);
    } else {
        *out++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
        *out++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    }
    return out;
}

#if PARVELLO_X86_VECTORS

// ---- SSE2: part of every x86-64 processor. ----

qsizetype findLineBreakSse2(const char16_t* units, qsizetype n) {
    const __m128i cr = _mm_set1_epi16('\r');
    const __m128i lf = _mm_set1_epi16('\n');
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)));
        if (mask)
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    return findLineBreakPlain(units, i, n);
}

qsizetype findUnitSse2(const char16_t* units, qsizetype n, char16_t unit) {
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, wanted)))
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    return findUnitPlain(units, i, n, unit);
}

inline int hitsSse2(__m128i v, __m128i a, __m128i b, __m128i c) {
    return _mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)), _mm_cmpeq_epi16(v, c)));
}

qsizetype findAnyOf3Sse2(const char16_t* units, qsizetype n, const std::array<char16_t, 3>& chars) {
    const __m128i a = _mm_set1_epi16(static_cast<short>(chars[0]));
    const __m128i b = _mm_set1_epi16(static_cast<short>(chars[1]));
    const __m128i c = _mm_set1_epi16(static_cast<short>(chars[2]));
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (const int mask = hitsSse2(v, a, b, c))
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    if (i < n && n >= 8) {
        // The last eight units, of which the first ones were looked at already.
        const qsizetype from = n - 8;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + from));
        const unsigned mask = unsigned(hitsSse2(v, a, b, c)) & (~0u << (2 * (i - from)));
        return mask ? from + std::countr_zero(mask) / 2 : n;
    }
    return findAnyOf3Plain(units, i, n, chars);
}

// Whether all eight units at p are ASCII; their bytes then go to *bytes.
inline bool asciiBlock8(const char16_t* p, __m128i* bytes) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), _mm_setzero_si128())) != 0xFFFF)
        return false;
    *bytes = _mm_packus_epi16(v, v);
    return true;
}

// Fewer than sixteen units are left from i. When they are ASCII, encodes them with whole
// blocks: a block may reach back over units already written, as long as those are ASCII
// too (each then gives the same one byte again, at the same place).
inline bool asciiTailSse2(const char16_t* units, qsizetype& i, qsizetype n, char*& out) {
    __m128i bytes;
    if (n >= 16) {
        const qsizetype from = n - 16;
        __m128i second;
        if (!asciiBlock8(units + from, &bytes) || !asciiBlock8(units + from + 8, &second))
            return false;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out - (i - from)),
                         _mm_unpacklo_epi64(bytes, second));
    } else {
        if (n - i > 8) {
            if (!asciiBlock8(units + i, &bytes))
                return false;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
            i += 8;
            out += 8;
        }
        if (n < 8 || !asciiBlock8(units + n - 8, &bytes))
            return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out - (i - (n - 8))), bytes);
    }
    out += n - i;
    i = n;
    return true;
}

// Sixteen units at a time. The ASCII units before the first other one are kept: they are
// packed to bytes and stored whole, and only the ASCII prefix counts.
char* encodeUtf8Sse2(const char16_t* units, qsizetype n, char* out) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    qsizetype i = 0;
    while (i < n) {
        while (i + 16 <= n) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(a, b));
            const __m128i asciiA = _mm_cmpeq_epi16(_mm_and_si128(a, high), zero);
            const __m128i asciiB = _mm_cmpeq_epi16(_mm_and_si128(b, high), zero);
            const unsigned ascii = unsigned(_mm_movemask_epi8(_mm_packs_epi16(asciiA, asciiB)));
            if (ascii == 0xFFFF) {
                i += 16;
                out += 16;
                continue;
            }
            const int prefix = std::countr_one(ascii);
            i += prefix;
            out += prefix;
            break;
        }
        if (i >= n)
            break;
        if (i + 16 > n && asciiTailSse2(units, i, n, out))
            break;
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    }
    return out;
}

// Sixteen ASCII bytes at a time become sixteen units; stops before the first other byte.
inline qsizetype widenAsciiSse2(const unsigned char* in, qsizetype n, char16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i;
}

qsizetype findAnyOf3BytesSse2(const char* bytes, qsizetype n, const std::array<char, 3>& chars) {
    const __m128i a = _mm_set1_epi8(chars[0]);
    const __m128i b = _mm_set1_epi8(chars[1]);
    const __m128i c = _mm_set1_epi8(chars[2]);
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)),
                                         _mm_cmpeq_epi8(v, c));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
            return i + std::countr_zero(mask);
    }
    return findAnyOf3BytesPlain(bytes, i, n, chars);
}

qsizetype asciiPrefixSse2(const char* bytes, qsizetype n) {
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return asciiPrefixPlain(bytes, i, n);
}

// ---- AVX2: where the processor has it. ----

__attribute__((target("avx2"))) qsizetype findAnyOf3BytesAvx2(const char* bytes, qsizetype n,
                                                              const std::array<char, 3>& chars) {
    const __m256i a = _mm256_set1_epi8(chars[0]);
    const __m256i b = _mm256_set1_epi8(chars[1]);
    const __m256i c = _mm256_set1_epi8(chars[2]);
    qsizetype i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi8(v, a), _mm256_cmpeq_epi8(v, b)),
                            _mm256_cmpeq_epi8(v, c));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hit)))
            return i + std::countr_zero(mask);
    }
    return i < n ? i + findAnyOf3BytesSse2(bytes + i, n - i, chars) : n;
}

__attribute__((target("avx2"))) qsizetype asciiPrefixAvx2(const char* bytes, qsizetype n) {
    qsizetype i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + i));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i < n ? i + asciiPrefixSse2(bytes + i, n - i) : n;
}

__attribute__((target("avx2"))) qsizetype findLineBreakAvx2(const char16_t* units, qsizetype n) {
    const __m256i cr = _mm256_set1_epi16('\r');
    const __m256i lf = _mm256_set1_epi16('\n');
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const unsigned mask = unsigned(_mm256_movemask_epi8(
            _mm256_or_si256(_mm256_cmpeq_epi16(v, cr), _mm256_cmpeq_epi16(v, lf))));
        if (mask)
            return i + std::countr_zero(mask) / 2;
    }
    return findLineBreakPlain(units, i, n);
}

__attribute__((target("avx2"))) qsizetype findUnitAvx2(const char16_t* units, qsizetype n,
                                                       char16_t unit) {
    const __m256i wanted = _mm256_set1_epi16(static_cast<short>(unit));
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(_mm256_cmpeq_epi16(v, wanted))))
            return i + std::countr_zero(mask) / 2;
    }
    return findUnitPlain(units, i, n, unit);
}

__attribute__((target("avx2"))) qsizetype findAnyOf3Avx2(const char16_t* units, qsizetype n,
                                                         const std::array<char16_t, 3>& chars) {
    const __m256i a = _mm256_set1_epi16(static_cast<short>(chars[0]));
    const __m256i b = _mm256_set1_epi16(static_cast<short>(chars[1]));
    const __m256i c = _mm256_set1_epi16(static_cast<short>(chars[2]));
    qsizetype i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, a), _mm256_cmpeq_epi16(v, b)),
                            _mm256_cmpeq_epi16(v, c));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(hit)))
            return i + std::countr_zero(mask) / 2;
    }
    if (i < n && n >= 16) {
        // The last sixteen units, of which the first ones were looked at already.
        const qsizetype from = n - 16;
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + from));
        const __m256i hit =
            _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(v, a), _mm256_cmpeq_epi16(v, b)),
                            _mm256_cmpeq_epi16(v, c));
        const unsigned mask = unsigned(_mm256_movemask_epi8(hit)) & (~0u << (2 * (i - from)));
        return mask ? from + std::countr_zero(mask) / 2 : n;
    }
    return i < n ? findAnyOf3Sse2(units, n, chars) : n;
}

__attribute__((target("avx2"))) char* encodeUtf8Avx2(const char16_t* units, qsizetype n,
                                                     char* out) {
    if (n < 16) {
        // Too short for a vector: the plain way, ASCII first.
        qsizetype i = 0;
        while (i < n && units[i] < 0x80)
            *out++ = char(units[i++]);
        return i < n ? encodeUtf8Sse2(units + i, n - i, out) : out;
    }
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF80));
    const __m256i zero = _mm256_setzero_si256();
    qsizetype i = 0;
    while (i + 32 <= n) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + 16));
        // Packing works per 128-bit lane; the permutation puts the bytes back in order.
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), 0xD8));
        const __m256i asciiA = _mm256_cmpeq_epi16(_mm256_and_si256(a, high), zero);
        const __m256i asciiB = _mm256_cmpeq_epi16(_mm256_and_si256(b, high), zero);
        const unsigned ascii = unsigned(_mm256_movemask_epi8(
            _mm256_permute4x64_epi64(_mm256_packs_epi16(asciiA, asciiB), 0xD8)));
        if (ascii == 0xFFFFFFFFu) {
            i += 32;
            out += 32;
            continue;
        }
        const int prefix = std::countr_one(ascii);
        i += prefix;
        out += prefix;
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    }
    // The tail: sixteen at a time, then one by one.
    return i < n ? encodeUtf8Sse2(units + i, n - i, out) : out;
}

__attribute__((target("avx2"))) inline qsizetype widenAsciiAvx2(const unsigned char* in,
                                                                qsizetype n, char16_t* out) {
    qsizetype i = 0;
    for (; i + 32 <= n; i += 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i + 16),
                            _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
        if (const unsigned mask = unsigned(_mm256_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i;
}

ScanLevel detectLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi"))
        return ScanLevel::Avx512;
    return __builtin_cpu_supports("avx2") ? ScanLevel::Avx2 : ScanLevel::Sse2;
}

#else

ScanLevel detectLevel() {
    return ScanLevel::Plain;
}

#endif

// The loops of each level.
qsizetype findLineBreakPlainAll(const char16_t* units, qsizetype n) {
    return findLineBreakPlain(units, 0, n);
}
qsizetype findCarriageReturnPlain(const char16_t* units, qsizetype n) {
    return findUnitPlain(units, 0, n, u'\r');
}
qsizetype findAnyOf3PlainAll(const char16_t* units, qsizetype n,
                             const std::array<char16_t, 3>& chars) {
    return findAnyOf3Plain(units, 0, n, chars);
}
qsizetype findAnyOf3BytesPlainAll(const char* bytes, qsizetype n,
                                  const std::array<char, 3>& chars) {
    return findAnyOf3BytesPlain(bytes, 0, n, chars);
}
qsizetype asciiPrefixPlainAll(const char* bytes, qsizetype n) {
    return asciiPrefixPlain(bytes, 0, n);
}
constexpr ScanKernels plainKernels = {findLineBreakPlainAll,   findCarriageReturnPlain,
                                      findAnyOf3PlainAll,      encodeUtf8Plain,
                                      findAnyOf3BytesPlainAll, asciiPrefixPlainAll};
#if PARVELLO_X86_VECTORS
qsizetype findCarriageReturnSse2(const char16_t* units, qsizetype n) {
    return findUnitSse2(units, n, u'\r');
}
__attribute__((target("avx2"))) qsizetype findCarriageReturnAvx2(const char16_t* units,
                                                                 qsizetype n) {
    return findUnitAvx2(units, n, u'\r');
}
constexpr ScanKernels sse2Kernels = {findLineBreakSse2, findCarriageReturnSse2, findAnyOf3Sse2,
                                     encodeUtf8Sse2,    findAnyOf3BytesSse2,    asciiPrefixSse2};
constexpr ScanKernels avx2Kernels = {findLineBreakAvx2, findCarriageReturnAvx2, findAnyOf3Avx2,
                                     encodeUtf8Avx2,    findAnyOf3BytesAvx2,    asciiPrefixAvx2};
#endif

const ScanLevel bestLevel = detectLevel();

// The levels a caller may ask for, lowered to what runs here.
inline ScanLevel usable(ScanLevel level) {
    return level <= bestLevel ? level : ScanLevel::Plain;
}

} // namespace

const ScanKernels& ScanKernelsFor(ScanLevel level) {
    switch (usable(level)) {
#if PARVELLO_X86_VECTORS
    case ScanLevel::Avx512: // the searches gain nothing from the wider vectors
    case ScanLevel::Avx2:
        return avx2Kernels;
    case ScanLevel::Sse2:
        return sse2Kernels;
#endif
    default:
        return plainKernels;
    }
}

const ScanKernels& bestScanKernels = ScanKernelsFor(bestLevel);

ScanLevel BestScanLevel() {
    return bestLevel;
}

bool ScanLevelAvailable(ScanLevel level) {
    return level <= bestLevel;
}

qsizetype FindCarriageReturnByte(const char* bytes, qsizetype n) {
    const void* cr = std::memchr(bytes, '\r', size_t(n));
    return cr ? static_cast<const char*>(cr) - bytes : n;
}

namespace {

// Where a check of UTF-8 stopped: at the end, before a sequence cut off by the end, or at
// an invalid sequence.
constexpr qsizetype CheckInvalid = -1;

// Checks the non-ASCII sequences from i on until the next ASCII byte. False at an invalid
// sequence, or at one cut off by the end (i is then left at its first byte).
inline bool checkSequences(const unsigned char* in, qsizetype& i, qsizetype n, bool& cutOff) {
    while (i < n && in[i] >= 0x80) {
        char32_t cp = 0;
        int length = 0;
        switch (decodeSequence(in + i, n - i, cp, length)) {
        case Sequence::Complete:
            i += length;
            continue;
        case Sequence::Incomplete:
            cutOff = true;
            return false;
        case Sequence::Invalid:
            return false;
        }
    }
    return true;
}

// Checks in[i..n): returns n, the start of a sequence cut off by the end, or CheckInvalid.
qsizetype checkUtf8Plain(const unsigned char* in, qsizetype i, qsizetype n, bool& nonAscii) {
    while (i < n) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        nonAscii = true;
        bool cutOff = false;
        if (!checkSequences(in, i, n, cutOff))
            return cutOff ? i : CheckInvalid;
    }
    return n;
}

#if PARVELLO_X86_VECTORS
// Whole blocks of ASCII are passed over; the sequences of a block that has others are
// checked one by one, and the next block begins after them.
#define PARVELLO_CHECK_BLOCKS(Width, highBits)                                                     \
    bool sawNonAscii = false;                                                                      \
    while (i + Width <= n) {                                                                       \
        const unsigned mask = highBits(in + i);                                                    \
        if (!mask) {                                                                               \
            i += Width;                                                                            \
            continue;                                                                              \
        }                                                                                          \
        i += std::countr_zero(mask);                                                               \
        sawNonAscii = true;                                                                        \
        bool cutOff = false;                                                                       \
        if (!checkSequences(in, i, n, cutOff)) {                                                   \
            nonAscii = true;                                                                       \
            return cutOff ? i : CheckInvalid;                                                      \
        }                                                                                          \
    }                                                                                              \
    nonAscii = nonAscii || sawNonAscii;                                                            \
    return checkUtf8Plain(in, i, n, nonAscii)

inline unsigned highBits16(const unsigned char* p) {
    return unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
}
__attribute__((target("avx2"))) inline unsigned highBits32(const unsigned char* p) {
    return unsigned(_mm256_movemask_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))));
}

qsizetype checkUtf8Sse2(const unsigned char* in, qsizetype i, qsizetype n, bool& nonAscii) {
    PARVELLO_CHECK_BLOCKS(16, highBits16);
}

__attribute__((target("avx2"))) qsizetype checkUtf8Avx2(const unsigned char* in, qsizetype i,
                                                        qsizetype n, bool& nonAscii) {
    PARVELLO_CHECK_BLOCKS(32, highBits32);
}
#undef PARVELLO_CHECK_BLOCKS
#endif

qsizetype checkUtf8(ScanLevel level, const char* bytes, qsizetype i, qsizetype n, bool& nonAscii) {
    const auto* const in = reinterpret_cast<const unsigned char*>(bytes);
    switch (usable(level)) {
#if PARVELLO_X86_VECTORS
    case ScanLevel::Avx512:
    case ScanLevel::Avx2:
        return checkUtf8Avx2(in, i, n, nonAscii);
    case ScanLevel::Sse2:
        return checkUtf8Sse2(in, i, n, nonAscii);
#endif
    default:
        return checkUtf8Plain(in, i, n, nonAscii);
    }
}

} // namespace

bool DecodeUtf16Units(const char* bytes, qsizetype n, bool bigEndian, char16_t* out) {
    qsizetype i = 0;
    bool surrogate = false;
#if PARVELLO_X86_VECTORS
    const __m128i top = _mm_set1_epi16(short(0xF800));
    const __m128i half = _mm_set1_epi16(short(0xD800));
    __m128i found = _mm_setzero_si128();
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
        if (bigEndian)
            v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        found = _mm_or_si128(found, _mm_cmpeq_epi16(_mm_and_si128(v, top), half));
    }
    surrogate = _mm_movemask_epi8(found) != 0;
#endif
    for (; i < n; ++i) {
        const auto first = uchar(bytes[2 * i]);
        const auto second = uchar(bytes[2 * i + 1]);
        const auto unit = bigEndian ? char16_t(first << 8 | second) : char16_t(second << 8 | first);
        std::memcpy(out + i, &unit, 2); // out may be a byte buffer
        surrogate = surrogate || (unit & 0xF800) == 0xD800;
    }
    return surrogate;
}

namespace {
std::atomic<bool> quotesPassOff{false};
std::atomic<ScanLevel> quotesPassLimit{ScanLevel::Avx512};
} // namespace

#if PARVELLO_X86_VECTORS
namespace {

#define PARVELLO_VBMI2 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,bmi2,popcnt")))

bool vbmi2Runs() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi2");
}
const bool quotesPassRuns = vbmi2Runs();

__extension__ typedef unsigned __int128 Bits128;

// The bits below bit count, for a count from 0 to 255 (all of them from 64 on).
PARVELLO_VBMI2 inline std::uint64_t lowBits(int count) {
    return _bzhi_u64(~std::uint64_t(0), unsigned(count));
}

// All bits where on, none elsewhere.
constexpr std::uint64_t allWhere(bool on) {
    return on ? ~std::uint64_t(0) : 0;
}

// A quote that ends at bit 0 of a group had two bytes in the group before, at bit 1 one:
// the bytes to take back where its first bytes go.
inline int takeBackFor(std::uint64_t ends) {
    return (0x2120 >> (4 * int(ends & 3))) & 0xF;
}

// The quotes in a group of 64 bytes, for the common rules in a shape that needs few
// comparisons, and for any rule. Each gives the bytes to remove, changes in v the last
// bytes of the quotes that stay (only where Changes), tells how many bytes of a quote the
// group before wrote already that go, and carries what a quote cut by the group's end needs.

// What happens to one quote: drop (all its bytes go), dropFirst (its first bytes go) and
// change (its last byte becomes last), each as all bits or none.
struct QuoteFate {
    std::uint64_t drop, dropFirst, change;
    __m512i last;
    PARVELLO_VBMI2 QuoteFate(const PassQuotes& quotes, size_t q)
        : drop(allWhere(quotes.kept[q] == 0)), dropFirst(allWhere(quotes.kept[q] <= 1)),
          change(allWhere(quotes.kept[q] > 0)), last(_mm512_set1_epi8(quotes.last[q])) {}
};

// Quotes of one byte each (a code page, or a family with one quote only).
template <bool Changes> struct SingleByteQuotes {
    __m512i quote[3];
    QuoteFate fate[3];
    static size_t presentOr(const PassQuotes& quotes, size_t q) {
        // A quote the encoding lacks compares, and goes, as another one of the family.
        size_t present = 0;
        while (quotes.length[present] == 0)
            ++present;
        return quotes.length[q] ? q : present;
    }
    struct Carry {};
    PARVELLO_VBMI2 explicit SingleByteQuotes(const PassQuotes& quotes)
        : quote{_mm512_set1_epi8(quotes.bytes[presentOr(quotes, 0)][0]),
                _mm512_set1_epi8(quotes.bytes[presentOr(quotes, 1)][0]),
                _mm512_set1_epi8(quotes.bytes[presentOr(quotes, 2)][0])},
          fate{{quotes, presentOr(quotes, 0)},
               {quotes, presentOr(quotes, 1)},
               {quotes, presentOr(quotes, 2)}} {}
    static bool fits(const PassQuotes& quotes) {
        const auto& l = quotes.length;
        return l[0] <= 1 && l[1] <= 1 && l[2] <= 1 && l[0] + l[1] + l[2] > 0;
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    PARVELLO_VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry&) const {
        takeBack = 0;
        if constexpr (!Changes) // every quote goes
            return _mm512_cmpeq_epi8_mask(v, quote[0]) | _mm512_cmpeq_epi8_mask(v, quote[1]) |
                   _mm512_cmpeq_epi8_mask(v, quote[2]);
        std::uint64_t removed = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint64_t at = _mm512_cmpeq_epi8_mask(v, quote[q]);
            removed |= at & fate[q].drop;
            changed = _mm512_mask_mov_epi8(changed, at & fate[q].change, fate[q].last);
        }
        v = changed;
        return removed;
    }
    void save(const Carry&, QuotesPassCarry&) const {}
};

// A quote of one byte and two of three bytes that begin with the same two (the UTF-8 family
// of the ASCII quote and its two curly ones).
template <bool Changes> struct OneAndTwoLongQuotes {
    __m512i single, first, second, lastA, lastB;
    QuoteFate fate[3];
    struct Carry {
        std::uint64_t firstBefore, secondBefore; // the long quotes' first bytes before the group
    };
    PARVELLO_VBMI2 explicit OneAndTwoLongQuotes(const PassQuotes& quotes)
        : single(_mm512_set1_epi8(quotes.bytes[0][0])), first(_mm512_set1_epi8(quotes.bytes[1][0])),
          second(_mm512_set1_epi8(quotes.bytes[1][1])), lastA(_mm512_set1_epi8(quotes.bytes[1][2])),
          lastB(_mm512_set1_epi8(quotes.bytes[2][2])), fate{{quotes, 0}, {quotes, 1}, {quotes, 2}} {
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore[1], carry.secondBefore[1]};
    }
    static bool fits(const PassQuotes& quotes) {
        return quotes.length[0] == 1 && quotes.length[1] == 3 && quotes.length[2] == 3 &&
               quotes.bytes[1][0] == quotes.bytes[2][0] && quotes.bytes[1][1] == quotes.bytes[2][1];
    }
    PARVELLO_VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry& c) const {
        const std::uint64_t singles = _mm512_cmpeq_epi8_mask(v, single);
        const std::uint64_t firsts = _mm512_cmpeq_epi8_mask(v, first);
        const std::uint64_t seconds = _mm512_cmpeq_epi8_mask(v, second);
        const std::uint64_t before =
            (seconds << 1 | c.secondBefore) & (firsts << 2 | c.firstBefore);
        const std::uint64_t endsA = _mm512_mask_cmpeq_epi8_mask(before, v, lastA);
        const std::uint64_t endsB = _mm512_mask_cmpeq_epi8_mask(before, v, lastB);
        c.firstBefore = firsts >> 62;
        c.secondBefore = seconds >> 63;
        if constexpr (!Changes) { // every quote goes
            const std::uint64_t ends = endsA | endsB;
            takeBack = takeBackFor(ends);
            return singles | ends | ends >> 1 | ends >> 2;
        }
        const std::uint64_t firstGone = (endsA & fate[1].dropFirst) | (endsB & fate[2].dropFirst);
        takeBack = takeBackFor(firstGone);
        v = _mm512_mask_mov_epi8(v, singles & fate[0].change, fate[0].last);
        v = _mm512_mask_mov_epi8(v, endsA & fate[1].change, fate[1].last);
        v = _mm512_mask_mov_epi8(v, endsB & fate[2].change, fate[2].last);
        return (singles & fate[0].drop) | (endsA & fate[1].drop) | (endsB & fate[2].drop) |
               firstGone >> 1 | firstGone >> 2;
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore[1] = c.firstBefore;
        carry.secondBefore[1] = c.secondBefore;
    }
};

// Any rule: each quote of one or three bytes compared on its own.
template <bool Changes> struct AnyQuotes {
    __m512i quoteBytes[3][3];
    QuoteFate fate[3];
    std::array<int, 3> length;
    struct Carry {
        std::array<std::uint64_t, 3> firstBefore;
        std::array<std::uint64_t, 3> secondBefore;
    };
    PARVELLO_VBMI2 explicit AnyQuotes(const PassQuotes& quotes)
        : fate{{quotes, 0}, {quotes, 1}, {quotes, 2}}, length(quotes.length) {
        for (size_t q = 0; q < 3; ++q)
            for (size_t k = 0; k < 3; ++k)
                quoteBytes[q][k] = _mm512_set1_epi8(quotes.bytes[q][k]);
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore, carry.secondBefore};
    }
    PARVELLO_VBMI2 std::uint64_t removed(__m512i& v, int& takeBack, Carry& c) const {
        std::uint64_t removed = 0;
        takeBack = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            std::uint64_t ends = 0;
            if (length[q] == 1) {
                ends = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][0]);
            } else if (length[q] == 3) {
                const std::uint64_t first = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][0]);
                const std::uint64_t second = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][1]);
                ends = _mm512_cmpeq_epi8_mask(v, quoteBytes[q][2]) &
                       (second << 1 | c.secondBefore[q]) & (first << 2 | c.firstBefore[q]);
                const std::uint64_t firstGone = ends & fate[q].dropFirst;
                removed |= firstGone >> 1 | firstGone >> 2;
                takeBack = std::max(takeBack, takeBackFor(firstGone));
                c.firstBefore[q] = first >> 62;
                c.secondBefore[q] = second >> 63;
            }
            removed |= ends & fate[q].drop;
            if constexpr (Changes)
                changed = _mm512_mask_mov_epi8(changed, ends & fate[q].change, fate[q].last);
        }
        v = changed;
        return removed;
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore = c.firstBefore;
        carry.secondBefore = c.secondBefore;
    }
};

// Decoded text: the family's quotes are one unit each, so nothing of a quote lies in the
// group before; each is removed or becomes one unit.
template <bool Changes> struct UnitQuotes {
    __m512i quote[3];
    __m512i becomes[3];
    std::uint32_t drop[3];
    struct Carry {};
    PARVELLO_VBMI2 explicit UnitQuotes(const PassUnits& quotes) {
        for (size_t q = 0; q < 3; ++q) {
            quote[q] = _mm512_set1_epi16(short(quotes.quotes[q]));
            becomes[q] = _mm512_set1_epi16(short(quotes.becomes[q]));
            drop[q] = quotes.removed[q] ? ~std::uint32_t(0) : 0;
        }
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    PARVELLO_VBMI2 std::uint32_t removed(__m512i& v, int& takeBack, Carry&) const {
        takeBack = 0;
        if constexpr (!Changes) // every quote goes
            return _mm512_cmpeq_epi16_mask(v, quote[0]) | _mm512_cmpeq_epi16_mask(v, quote[1]) |
                   _mm512_cmpeq_epi16_mask(v, quote[2]);
        std::uint32_t removed = 0;
        __m512i changed = v;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint32_t at = _mm512_cmpeq_epi16_mask(v, quote[q]);
            removed |= at & drop[q];
            changed = _mm512_mask_mov_epi16(changed, at & ~drop[q], becomes[q]);
        }
        v = changed;
        return removed;
    }
    void save(const Carry&, QuotesPassCarry&) const {}
};

// The lanes of a group of 64 bytes: bytes, or UTF-16 units.
template <class Unit> struct Lanes;
template <> struct Lanes<char> {
    using Mask = std::uint64_t;
    static constexpr int Count = 64;
    PARVELLO_VBMI2 static __m512i all(char c) { return _mm512_set1_epi8(c); }
    PARVELLO_VBMI2 static Mask equal(__m512i a, __m512i b) { return _mm512_cmpeq_epi8_mask(a, b); }
    PARVELLO_VBMI2 static __m512i compress(Mask m, __m512i v) {
        return _mm512_maskz_compress_epi8(m, v);
    }
    PARVELLO_VBMI2 static __m512i expand(Mask m, __m512i v) {
        return _mm512_maskz_expand_epi8(m, v);
    }
    PARVELLO_VBMI2 static __m512i expandOver(__m512i under, Mask m, __m512i v) {
        return _mm512_mask_expand_epi8(under, m, v);
    }
    PARVELLO_VBMI2 static __m512i blend(__m512i v, Mask m, __m512i with) {
        return _mm512_mask_mov_epi8(v, m, with);
    }
    PARVELLO_VBMI2 static int count(Mask m) { return int(_mm_popcnt_u64(m)); }
    PARVELLO_VBMI2 static Mask extract(Mask bits, Mask where) { return _pext_u64(bits, where); }
};
template <> struct Lanes<char16_t> {
    using Mask = std::uint32_t;
    static constexpr int Count = 32;
    PARVELLO_VBMI2 static __m512i all(char16_t c) { return _mm512_set1_epi16(short(c)); }
    PARVELLO_VBMI2 static Mask equal(__m512i a, __m512i b) { return _mm512_cmpeq_epi16_mask(a, b); }
    PARVELLO_VBMI2 static __m512i compress(Mask m, __m512i v) {
        return _mm512_maskz_compress_epi16(m, v);
    }
    PARVELLO_VBMI2 static __m512i expand(Mask m, __m512i v) {
        return _mm512_maskz_expand_epi16(m, v);
    }
    PARVELLO_VBMI2 static __m512i expandOver(__m512i under, Mask m, __m512i v) {
        return _mm512_mask_expand_epi16(under, m, v);
    }
    PARVELLO_VBMI2 static __m512i blend(__m512i v, Mask m, __m512i with) {
        return _mm512_mask_mov_epi16(v, m, with);
    }
    PARVELLO_VBMI2 static int count(Mask m) { return int(_mm_popcnt_u32(m)); }
    PARVELLO_VBMI2 static Mask extract(Mask bits, Mask where) { return _pext_u32(bits, where); }
};

// Writes at o a group's kept units (packed: kept of them, marked by keep among the group's
// units) with each lone CR or LF of the group made CR LF, as input (the group as read), the
// unit after the group and whether the unit before was a CR (crBefore, updated) tell. False,
// with nothing written, where a removed quote stands between a lone CR and a lone LF.
template <class Unit>
PARVELLO_VBMI2 Q_ALWAYS_INLINE bool
writeWithLineEnds(__m512i input, Unit after, __m512i packed, typename Lanes<Unit>::Mask keep,
                  int kept, typename Lanes<Unit>::Mask& crBefore, Unit*& o) {
    using L = Lanes<Unit>;
    using Mask = typename L::Mask;
    constexpr int count = L::Count;
    const __m512i cr = L::all(Unit('\r'));
    const __m512i lf = L::all(Unit('\n'));
    const Mask crs = L::equal(input, cr);
    const Mask lfs = L::equal(input, lf);
    const Mask lfAfter = lfs >> 1 | Mask(after == Unit('\n')) << (count - 1);
    const Mask loneLf = lfs & ~Mask(crs << 1 | crBefore);
    const Mask loneCr = crs & ~lfAfter;
    if ((loneLf | loneCr) == 0) { // no line end to make: every break already is CR LF
        crBefore = crs >> (count - 1);
        _mm512_storeu_si512(o, packed);
        o += kept;
        return true;
    }
    // Where a CR LF is to be made, counted among the kept units: a CR before a lone LF, an
    // LF after a lone CR (a slot before the kept unit that follows it).
    const Mask lfKept = L::extract(loneLf, keep);
    const Mask crKept = L::extract(loneCr, keep);
    if (lfKept & crKept << 1)
        return false; // a lone CR, a removed quote, a lone LF: two slots between two units
    crBefore = crs >> (count - 1);
    const Mask slots = lfKept | Mask(crKept << 1);
    // An LF after all of them: a lone CR as the last of all the group's units, kept.
    const Mask last = crKept >> (count - 1) & Mask(kept / count);
    if ((slots & (slots - 1)) == 0 && last == 0) {
        // One line end to make, the most common case: the kept units from the slot on move
        // one place up (the last of them lands past the group through the store of all of
        // them one place up), and the slot gets a CR before an LF, else an LF.
        const __m512i moved = L::expandOver(cr, Mask(~slots), packed);
        _mm512_storeu_si512(o + 1, packed);
        _mm512_storeu_si512(o, L::blend(moved, Mask(crKept << 1), lf));
        o += kept + 1;
        return true;
    }
    // Two bits a kept unit (a slot before it, the unit), each half of the group on its own,
    // the unused slots left out: the kept units' places among the written ones.
    constexpr int half = count / 2;
    const std::uint64_t even = 0x5555555555555555u & lowBits(count);
    const std::uint64_t odd = 0xAAAAAAAAAAAAAAAAu & lowBits(count);
    const std::uint64_t keptBits = lowBits(kept);
    const std::uint64_t spreadLow = _pdep_u64(slots, even) | _pdep_u64(keptBits, odd);
    const std::uint64_t spreadHigh =
        _pdep_u64(slots >> half, even) | _pdep_u64(keptBits >> half, odd);
    const int lowCount = int(_mm_popcnt_u64(spreadLow));
    const Bits128 places =
        Bits128(_pext_u64(odd, spreadHigh)) << lowCount | _pext_u64(odd, spreadLow);
    const Mask places0 = Mask(places);
    const Mask places1 = Mask(places >> count);
    const int length = kept + L::count(slots) + int(last);
    const int first = L::count(places0);
    __m512i out0 = L::expand(places0, packed);
    __m512i out1 = L::expand(places1, L::compress(Mask(~lowBits(first)), packed));
    // Each slot is a CR before an LF, else an LF after a CR.
    const Mask free0 = ~places0 & Mask(lowBits(length));
    const Mask free1 = ~places1 & Mask(lowBits(std::max(0, length - count)));
    const Mask lf0 = L::equal(out0, lf);
    const Mask lf1 = L::equal(out1, lf);
    const Mask cr0 = free0 & (lf0 >> 1 | Mask(lf1 << (count - 1)));
    const Mask cr1 = free1 & lf1 >> 1;
    out0 = L::blend(L::blend(out0, free0 & ~cr0, lf), cr0, cr);
    out1 = L::blend(L::blend(out1, free1 & ~cr1, lf), cr1, cr);
    _mm512_storeu_si512(o, out0);
    _mm512_storeu_si512(o + count, out1);
    o += length;
    return true;
}

// The pass over units[i..end) a group at a time, for the quotes of Quotes and Rule.
template <class Unit, class Quotes, class Rule>
PARVELLO_VBMI2 qsizetype quotesPassVbmi2(const Unit* units, qsizetype i, qsizetype end, Unit*& out,
                                         const Rule& rule, bool lineBreaks,
                                         QuotesPassCarry& carry) {
    using L = Lanes<Unit>;
    // Whether the unit before the group was a CR, at bit 0.
    typename L::Mask crBefore = typename L::Mask(carry.crBefore);
    const Quotes quotes(rule);
    typename Quotes::Carry quoteCarry = quotes.load(carry);
    Unit* o = out;
    for (; i + L::Count <= end; i += L::Count) {
        // The group as read (its line breaks), and as its quotes become.
        const __m512i input = _mm512_loadu_si512(units + i);
        __m512i v = input;
        // A group left to the caller leaves the quotes' carry as it was.
        typename Quotes::Carry next = quoteCarry;
        int takeBack = 0; // units of a quote written with the group before that go
        const typename L::Mask keep = ~quotes.removed(v, takeBack, next);
        const int kept = L::count(keep);
        const __m512i packed = L::compress(keep, v);
        Unit* at = o - takeBack;
        if (!lineBreaks) {
            _mm512_storeu_si512(at, packed);
            at += kept;
        } else if (!writeWithLineEnds(input, units[i + L::Count], packed, keep, kept, crBefore,
                                      at)) {
            break;
        }
        o = at;
        quoteCarry = next;
    }
    carry.crBefore = crBefore;
    quotes.save(quoteCarry, carry);
    out = o;
    return i;
}

// ---- The same pass for processors with AVX2 only: a group of 64 bytes is read as two
// vectors of 32, its quotes and lone line breaks found as bit masks, and the units between
// them copied 64 bytes at a time from the group as read (or as its quotes became), one copy
// for each quote that goes and each CR or LF to make. Without AVX-512 there is no compress
// or expand, but the copies are few: most groups have no quote and at most one line end. ----

#define PARVELLO_AVX2_PASS __attribute__((target("avx2,bmi,popcnt")))

bool avx2PassRuns() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
}
const bool avx2QuotesPassRuns = avx2PassRuns();

// A group of 64 bytes as two vectors.
struct Halves {
    __m256i low, high;
};

// The lanes of such a group: bytes, or UTF-16 units; one bit a lane.
template <class Unit> struct HalfLanes;
template <> struct HalfLanes<char> {
    using Mask = std::uint64_t;
    static constexpr int Count = 64;
    PARVELLO_AVX2_PASS static __m256i all(char c) { return _mm256_set1_epi8(c); }
    PARVELLO_AVX2_PASS static Mask equal(const Halves& g, __m256i b) {
        const auto low = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g.low, b)));
        const auto high = std::uint32_t(_mm256_movemask_epi8(_mm256_cmpeq_epi8(g.high, b)));
        return low | Mask(high) << 32;
    }
};
template <> struct HalfLanes<char16_t> {
    using Mask = std::uint32_t;
    static constexpr int Count = 32;
    PARVELLO_AVX2_PASS static __m256i all(char16_t c) { return _mm256_set1_epi16(short(c)); }
    PARVELLO_AVX2_PASS static Mask equal(const Halves& g, __m256i b) {
        // One byte a unit, the packing's lanes put back in order.
        const __m256i packed =
            _mm256_packs_epi16(_mm256_cmpeq_epi16(g.low, b), _mm256_cmpeq_epi16(g.high, b));
        return Mask(_mm256_movemask_epi8(_mm256_permute4x64_epi64(packed, 0xD8)));
    }
};

// Quotes of one or three bytes, each compared on its own; the second of two three-byte
// quotes that begin with the same two bytes (the UTF-8 family) shares their comparisons.
// Gives the bytes that go, the quote ends whose last byte changes, and how many bytes of a
// quote the group before wrote already that go.
template <bool Changes> struct ByteQuotesAvx2 {
    __m256i quoteBytes[3][3];
    std::array<int, 3> length;
    std::uint64_t drop[3], dropFirst[3], change[3];
    std::array<char, 3> becomes;
    bool sameStart;
    struct Carry {
        std::array<std::uint64_t, 3> firstBefore;
        std::array<std::uint64_t, 3> secondBefore;
    };
    PARVELLO_AVX2_PASS explicit ByteQuotesAvx2(const PassQuotes& quotes)
        : length(quotes.length), becomes(quotes.last),
          sameStart(quotes.length[1] == 3 && quotes.length[2] == 3 &&
                    quotes.bytes[1][0] == quotes.bytes[2][0] &&
                    quotes.bytes[1][1] == quotes.bytes[2][1]) {
        for (size_t q = 0; q < 3; ++q) {
            for (size_t k = 0; k < 3; ++k)
                quoteBytes[q][k] = _mm256_set1_epi8(quotes.bytes[q][k]);
            drop[q] = allWhere(quotes.kept[q] == 0);
            dropFirst[q] = allWhere(quotes.kept[q] <= 1);
            change[q] = allWhere(quotes.kept[q] > 0);
        }
    }
    Carry load(const QuotesPassCarry& carry) const {
        return {carry.firstBefore, carry.secondBefore};
    }
    void save(const Carry& c, QuotesPassCarry& carry) const {
        carry.firstBefore = c.firstBefore;
        carry.secondBefore = c.secondBefore;
    }
    PARVELLO_AVX2_PASS std::uint64_t removed(const Halves& g, int& takeBack, Carry& c,
                                             std::uint64_t (&changes)[3]) const {
        using L = HalfLanes<char>;
        std::uint64_t removed = 0;
        std::uint64_t first = 0;
        std::uint64_t second = 0;
        takeBack = 0;
        for (size_t q = 0; q < 3; ++q) {
            std::uint64_t ends = 0;
            if (length[q] == 1) {
                ends = L::equal(g, quoteBytes[q][0]);
            } else if (length[q] == 3) {
                if (q != 2 || !sameStart) {
                    first = L::equal(g, quoteBytes[q][0]);
                    second = L::equal(g, quoteBytes[q][1]);
                }
                ends = L::equal(g, quoteBytes[q][2]) & (second << 1 | c.secondBefore[q]) &
                       (first << 2 | c.firstBefore[q]);
                c.firstBefore[q] = first >> 62;
                c.secondBefore[q] = second >> 63;
                const std::uint64_t firstGone = ends & dropFirst[q];
                removed |= firstGone >> 1 | firstGone >> 2;
                takeBack = std::max(takeBack, takeBackFor(firstGone));
            }
            removed |= ends & drop[q];
            if constexpr (Changes)
                changes[q] = ends & change[q];
        }
        return removed;
    }
};

// Decoded text: the family's quotes are one unit each, removed or replaced by one unit.
template <bool Changes> struct UnitQuotesAvx2 {
    __m256i quote[3];
    std::array<char16_t, 3> becomes;
    std::uint32_t drop[3];
    struct Carry {};
    PARVELLO_AVX2_PASS explicit UnitQuotesAvx2(const PassUnits& quotes) : becomes(quotes.becomes) {
        for (size_t q = 0; q < 3; ++q) {
            quote[q] = _mm256_set1_epi16(short(quotes.quotes[q]));
            drop[q] = quotes.removed[q] ? ~std::uint32_t(0) : 0;
        }
    }
    Carry load(const QuotesPassCarry&) const { return {}; }
    void save(const Carry&, QuotesPassCarry&) const {}
    PARVELLO_AVX2_PASS std::uint32_t removed(const Halves& g, int& takeBack, Carry&,
                                             std::uint32_t (&changes)[3]) const {
        using L = HalfLanes<char16_t>;
        takeBack = 0;
        std::uint32_t removed = 0;
        for (size_t q = 0; q < 3; ++q) {
            const std::uint32_t at = L::equal(g, quote[q]);
            removed |= at & drop[q];
            if constexpr (Changes)
                changes[q] = at & ~drop[q];
        }
        return removed;
    }
};

// Copies 64 bytes from from to to (the caller keeps as many of them as it needs).
PARVELLO_AVX2_PASS Q_ALWAYS_INLINE void copy64(void* to, const void* from) {
    const auto* in = static_cast<const __m256i*>(from);
    auto* out = static_cast<__m256i*>(to);
    const __m256i low = _mm256_loadu_si256(in);
    const __m256i high = _mm256_loadu_si256(in + 1);
    _mm256_storeu_si256(out, low);
    _mm256_storeu_si256(out + 1, high);
}

// The pass over units[i..end) a group at a time, for the quotes of Quotes and Rule.
template <class Unit, class Quotes, class Rule>
PARVELLO_AVX2_PASS qsizetype quotesPassAvx2(const Unit* units, qsizetype i, qsizetype end,
                                            Unit*& out, const Rule& rule, bool lineBreaks,
                                            QuotesPassCarry& carry) {
    using L = HalfLanes<Unit>;
    using Mask = typename L::Mask;
    constexpr int count = L::Count;
    constexpr int half = count / 2;
    // Whether the unit before the group was a CR, at bit 0.
    Mask crBefore = Mask(carry.crBefore);
    const Quotes quotes(rule);
    typename Quotes::Carry quoteCarry = quotes.load(carry);
    const __m256i cr = L::all(Unit('\r'));
    const __m256i lf = L::all(Unit('\n'));
    // The group as its quotes become, with room for a copy from anywhere in it.
    alignas(32) Unit group[2 * count];
    Unit* o = out;
    for (; i + count <= end; i += count) {
        const Halves input{_mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i)),
                           _mm256_loadu_si256(reinterpret_cast<const __m256i*>(units + i + half))};
        int takeBack = 0; // units of a quote written with the group before that go
        Mask changes[3] = {};
        const Mask removed = quotes.removed(input, takeBack, quoteCarry, changes);
        // The line ends to make: a CR before each lone LF, an LF after each lone CR (before
        // the unit that follows it, or after the whole group).
        Mask crFirst = 0;
        Mask lfFirst = 0;
        bool lfLast = false;
        if (lineBreaks) {
            const Mask crs = L::equal(input, cr);
            const Mask lfs = L::equal(input, lf);
            const Mask lfAfter = Mask(lfs >> 1) | Mask(units[i + count] == Unit('\n'))
                                                      << (count - 1);
            const Mask loneCr = crs & ~lfAfter;
            crFirst = lfs & ~Mask(crs << 1 | crBefore);
            lfFirst = Mask(loneCr << 1);
            lfLast = loneCr >> (count - 1);
            crBefore = crs >> (count - 1);
        }
        // Copies read up to a group past where they start: from the block while it has that
        // many units, else (and where quotes change) from the copy of the group.
        const Unit* from = units + i;
        if ((changes[0] | changes[1] | changes[2]) || i + 2 * count > end) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(group), input.low);
            _mm256_store_si256(reinterpret_cast<__m256i*>(group + half), input.high);
            for (size_t q = 0; q < 3; ++q)
                for (Mask at = changes[q]; at; at &= at - 1)
                    group[std::countr_zero(at)] = quotes.becomes[q];
            from = group;
        }
        Unit* at = o - takeBack;
        // An event where a CR or LF is to be made, and where a run of units that go begins
        // (a quote of three bytes is one run).
        const Mask made = crFirst | lfFirst;
        Mask events = made | (removed & ~Mask(removed << 1));
        int next = 0; // the group's next unit to write
        for (; events; events &= events - 1) {
            // The units before the event copied, then, without a branch on what the event is,
            // a CR or LF (always stored, kept only where one is made; the next copy goes
            // over it otherwise) and the units that go from there skipped.
            const int e = std::countr_zero(events);
            copy64(at, from + next);
            at += e - next;
            *at = (crFirst >> e) & 1 ? Unit('\r') : Unit('\n');
            at += (made >> e) & 1;
            next = e + std::countr_one(Mask(removed >> e));
        }
        copy64(at, from + next);
        at += count - next;
        if (lfLast)
            *at++ = Unit('\n');
        o = at;
    }
    carry.crBefore = crBefore;
    quotes.save(quoteCarry, carry);
    out = o;
    return i;
}

} // namespace
#endif

namespace {

// Which pass runs: none, the one for AVX2, the one for AVX-512 with VBMI2.
enum class PassKind { None, Avx2, Vbmi2 };

PassKind passKind() {
#if PARVELLO_X86_VECTORS
    if (quotesPassOff.load(std::memory_order_relaxed))
        return PassKind::None;
    const ScanLevel limit = quotesPassLimit.load(std::memory_order_relaxed);
    if (quotesPassRuns && limit >= ScanLevel::Avx512)
        return PassKind::Vbmi2;
    if (avx2QuotesPassRuns && limit >= ScanLevel::Avx2)
        return PassKind::Avx2;
#endif
    return PassKind::None;
}

} // namespace

bool QuotesPassAvailable() {
    return passKind() != PassKind::None;
}

void LimitQuotesPassForTests(ScanLevel level) {
    quotesPassLimit.store(level, std::memory_order_relaxed);
}

void TurnQuotesPassOffForTests(bool off) {
    quotesPassOff.store(off, std::memory_order_relaxed);
}

qsizetype QuotesPass(const char* bytes, qsizetype i, qsizetype end, char*& out,
                     const PassQuotes& quotes, bool lineBreaks, QuotesPassCarry& carry) {
#if PARVELLO_X86_VECTORS
    const PassKind kind = passKind();
    if (kind == PassKind::Avx2) {
        return quotes.kept[0] + quotes.kept[1] + quotes.kept[2] > 0
                   ? quotesPassAvx2<char, ByteQuotesAvx2<true>>(bytes, i, end, out, quotes,
                                                                lineBreaks, carry)
                   : quotesPassAvx2<char, ByteQuotesAvx2<false>>(bytes, i, end, out, quotes,
                                                                 lineBreaks, carry);
    }
    if (kind == PassKind::Vbmi2) {
        const bool changes = quotes.kept[0] + quotes.kept[1] + quotes.kept[2] > 0;
        const auto pass = [&]<template <bool> class Quotes>() {
            return changes ? quotesPassVbmi2<char, Quotes<true>>(bytes, i, end, out, quotes,
                                                                 lineBreaks, carry)
                           : quotesPassVbmi2<char, Quotes<false>>(bytes, i, end, out, quotes,
                                                                  lineBreaks, carry);
        };
        if (OneAndTwoLongQuotes<false>::fits(quotes))
            return pass.template operator()<OneAndTwoLongQuotes>();
        if (SingleByteQuotes<false>::fits(quotes))
            return pass.template operator()<SingleByteQuotes>();
        return pass.template operator()<AnyQuotes>();
    }
#endif
    (void)lineBreaks;
    (void)bytes;
    (void)end;
    (void)out;
    (void)quotes;
    (void)carry;
    return i;
}

qsizetype QuotesPass(const char16_t* units, qsizetype i, qsizetype end, char16_t*& out,
                     const PassUnits& quotes, bool lineBreaks, QuotesPassCarry& carry) {
#if PARVELLO_X86_VECTORS
    const PassKind kind = passKind();
    const bool changes = !quotes.removed[0] || !quotes.removed[1] || !quotes.removed[2];
    if (kind == PassKind::Avx2) {
        return changes ? quotesPassAvx2<char16_t, UnitQuotesAvx2<true>>(units, i, end, out, quotes,
                                                                        lineBreaks, carry)
                       : quotesPassAvx2<char16_t, UnitQuotesAvx2<false>>(units, i, end, out, quotes,
                                                                         lineBreaks, carry);
    }
    if (kind == PassKind::Vbmi2) {
        return changes ? quotesPassVbmi2<char16_t, UnitQuotes<true>>(units, i, end, out, quotes,
                                                                     lineBreaks, carry)
                       : quotesPassVbmi2<char16_t, UnitQuotes<false>>(units, i, end, out, quotes,
                                                                      lineBreaks, carry);
    }
#endif
    (void)units;
    (void)end;
    (void)out;
    (void)quotes;
    (void)lineBreaks;
    (void)carry;
    return i;
}

Utf8Check CheckUtf8(const char* bytes, qsizetype n, ScanLevel level) {
    return Utf8Checker(level).finish(bytes, n);
}

#if PARVELLO_X86_VECTORS
namespace {

// UTF-8 checked 32 bytes at a time without looking at single sequences: each byte is
// classified by table lookups on its high nibble and on both nibbles of the byte before it,
// and the classes of the two must agree (the method of Keiser and Lemire, "Validating UTF-8
// in less than one instruction per byte"). It accepts exactly what decodeSequence accepts.
namespace vectorcheck {

constexpr std::uint8_t TooShort = 1 << 0;     // a lead byte not followed by a continuation
constexpr std::uint8_t TooLong = 1 << 1;      // ASCII followed by a continuation
constexpr std::uint8_t Overlong3 = 1 << 2;    // E0 80..9F
constexpr std::uint8_t TooLarge = 1 << 3;     // F4 90..BF, F5..FF
constexpr std::uint8_t Surrogate = 1 << 4;    // ED A0..BF
constexpr std::uint8_t Overlong2 = 1 << 5;    // C0, C1
constexpr std::uint8_t TooLarge1000 = 1 << 6; // F5..FF 80..8F
constexpr std::uint8_t Overlong4 = 1 << 6;    // F0 80..8F
constexpr std::uint8_t TwoConts = 1 << 7;     // a continuation after a continuation
constexpr std::uint8_t Carry = TooShort | TooLong | TwoConts;

// What each byte's high nibble, the byte before's high nibble and the byte before's low
// nibble say may be wrong; a pair is wrong where all three agree on a bit.
constexpr std::uint8_t Byte1High[16] = {TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TooLong,
                                        TwoConts,
                                        TwoConts,
                                        TwoConts,
                                        TwoConts,
                                        TooShort | Overlong2,
                                        TooShort,
                                        TooShort | Overlong3 | Surrogate,
                                        TooShort | TooLarge | TooLarge1000 | Overlong4};
constexpr std::uint8_t Byte1Low[16] = {Carry | Overlong3 | Overlong2 | Overlong4,
                                       Carry | Overlong2,
                                       Carry,
                                       Carry,
                                       Carry | TooLarge,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000 | Surrogate,
                                       Carry | TooLarge | TooLarge1000,
                                       Carry | TooLarge | TooLarge1000};
constexpr std::uint8_t Byte2High[16] = {TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge1000 |
                                            Overlong4,
                                        TooLong | Overlong2 | TwoConts | Overlong3 | TooLarge,
                                        TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,
                                        TooLong | Overlong2 | TwoConts | Surrogate | TooLarge,
                                        TooShort,
                                        TooShort,
                                        TooShort,
                                        TooShort};

__attribute__((target("avx2"))) inline __m256i table(const std::uint8_t (&entries)[16]) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The bytes of input moved n places later, the first n taken from the end of previous.
template <int N>
__attribute__((target("avx2"))) inline __m256i before(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - N);
}

// The error bits of one block given the block before it (zero bits: nothing wrong).
__attribute__((target("avx2"))) inline __m256i blockErrors(__m256i input, __m256i previous) {
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i prev1 = before<1>(input, previous);
    const __m256i byte1High = _mm256_shuffle_epi8(
        table(Byte1High), _mm256_and_si256(_mm256_srli_epi16(prev1, 4), nibble));
    const __m256i byte1Low = _mm256_shuffle_epi8(table(Byte1Low), _mm256_and_si256(prev1, nibble));
    const __m256i byte2High = _mm256_shuffle_epi8(
        table(Byte2High), _mm256_and_si256(_mm256_srli_epi16(input, 4), nibble));
    const __m256i special = _mm256_and_si256(_mm256_and_si256(byte1High, byte1Low), byte2High);
    // The third and fourth bytes of longer sequences must be continuations, and only they
    // may be the second continuation in a row.
    const __m256i third =
        _mm256_subs_epu8(before<2>(input, previous), _mm256_set1_epi8(char(0xE0 - 0x80)));
    const __m256i fourth =
        _mm256_subs_epu8(before<3>(input, previous), _mm256_set1_epi8(char(0xF0 - 0x80)));
    const __m256i must23 =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
    return _mm256_xor_si256(must23, special);
}

// Checks the whole blocks of in[from..n); from and the return value are multiples of 32
// past the start. errors and high collect the error bits and the bytes above 0x7F.
__attribute__((target("avx2"))) qsizetype checkBlocks(const unsigned char* in, qsizetype from,
                                                      qsizetype n, __m256i& errors, __m256i& high) {
    __m256i previous = from >= 32
                           ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + from - 32))
                           : _mm256_setzero_si256();
    for (; from + 32 <= n; from += 32) {
        const __m256i input = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + from));
        errors = _mm256_or_si256(errors, blockErrors(input, previous));
        high = _mm256_or_si256(high, input);
        previous = input;
    }
    return from;
}

// The same check 64 bytes at a time, where the processor has AVX-512 with VBMI.
#define PARVELLO_AVX512_CHECK __attribute__((target("avx512f,avx512bw,avx512vbmi")))

PARVELLO_AVX512_CHECK inline __m512i table512(const std::uint8_t (&entries)[16]) {
    return _mm512_maskz_broadcast_i32x4(0xFFFF,
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}

// The error bits of one block of 64 given the block before it; before[n] picks each byte's
// n-th byte before it out of the two blocks.
PARVELLO_AVX512_CHECK inline __m512i blockErrors512(__m512i input, __m512i previous,
                                                    const __m512i (&before)[4]) {
    const __m512i nibble = _mm512_set1_epi8(0x0F);
    const __m512i prev1 = _mm512_permutex2var_epi8(previous, before[1], input);
    const __m512i byte1High = _mm512_shuffle_epi8(
        table512(Byte1High), _mm512_and_si512(_mm512_srli_epi16(prev1, 4), nibble));
    const __m512i byte1Low =
        _mm512_shuffle_epi8(table512(Byte1Low), _mm512_and_si512(prev1, nibble));
    const __m512i byte2High = _mm512_shuffle_epi8(
        table512(Byte2High), _mm512_and_si512(_mm512_srli_epi16(input, 4), nibble));
    const __m512i special = _mm512_and_si512(_mm512_and_si512(byte1High, byte1Low), byte2High);
    const __m512i third = _mm512_subs_epu8(_mm512_permutex2var_epi8(previous, before[2], input),
                                           _mm512_set1_epi8(char(0xE0 - 0x80)));
    const __m512i fourth = _mm512_subs_epu8(_mm512_permutex2var_epi8(previous, before[3], input),
                                            _mm512_set1_epi8(char(0xF0 - 0x80)));
    const __m512i must23 =
        _mm512_and_si512(_mm512_or_si512(third, fourth), _mm512_set1_epi8(char(0x80)));
    return _mm512_xor_si512(must23, special);
}

// Checks the whole blocks of 64 of in[from..n); from and the return value are multiples of
// 64 past the start. Returns false at the first block with an error.
PARVELLO_AVX512_CHECK bool checkBlocks512(const unsigned char* in, qsizetype& from, qsizetype n,
                                          bool& nonAscii) {
    __m512i before[4];
    for (int k = 1; k < 4; ++k) {
        alignas(64) std::uint8_t index[64];
        for (int b = 0; b < 64; ++b)
            index[b] = std::uint8_t(64 - k + b); // from 64 on: input
        before[k] = _mm512_load_si512(index);
    }
    __m512i previous = from >= 64 ? _mm512_loadu_si512(in + from - 64) : _mm512_setzero_si512();
    __m512i errors = _mm512_setzero_si512();
    __m512i high = _mm512_setzero_si512();
    for (; from + 64 <= n; from += 64) {
        const __m512i input = _mm512_loadu_si512(in + from);
        errors = _mm512_or_si512(errors, blockErrors512(input, previous, before));
        high = _mm512_or_si512(high, input);
        previous = input;
    }
    nonAscii = nonAscii || _mm512_movepi8_mask(high) != 0;
    return _mm512_test_epi8_mask(errors, errors) == 0;
}

PARVELLO_AVX512_CHECK bool finish512(const unsigned char* in, qsizetype checked, qsizetype total,
                                     bool& nonAscii) {
    alignas(64) unsigned char tail[128] = {};
    const qsizetype from = std::max<qsizetype>(checked - 64, 0);
    std::memcpy(tail + 64 - (checked - from), in + from, size_t(total - from));
    qsizetype at = 64;
    return checkBlocks512(tail, at, 128, nonAscii);
}

// feed() and finish() of the vector check: whole blocks as they come, and at the end the
// rest padded with zero bytes, which also ends any sequence still open as too short.
__attribute__((target("avx2"))) bool feedAvx2(const unsigned char* in, qsizetype& checked,
                                              qsizetype filled, bool& nonAscii) {
    __m256i errors = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    checked = checkBlocks(in, checked, filled, errors, high);
    nonAscii = nonAscii || _mm256_movemask_epi8(high) != 0;
    return _mm256_testz_si256(errors, errors);
}

__attribute__((target("avx2"))) bool finishAvx2(const unsigned char* in, qsizetype checked,
                                                qsizetype total, bool& nonAscii) {
    alignas(32) unsigned char tail[64] = {};
    const qsizetype from = std::max<qsizetype>(checked - 32, 0);
    std::memcpy(tail + 32 - (checked - from), in + from, size_t(total - from));
    __m256i errors = _mm256_setzero_si256();
    __m256i high = _mm256_setzero_si256();
    checkBlocks(tail, 32, 64, errors, high);
    nonAscii = nonAscii || _mm256_movemask_epi8(high) != 0;
    return _mm256_testz_si256(errors, errors);
}

} // namespace vectorcheck

} // namespace
#endif

Utf8Checker::Utf8Checker(ScanLevel level) : level_(usable(level)) {}

bool Utf8Checker::feed(const char* bytes, qsizetype filled) {
    if (checked_ == CheckInvalid)
        return false;
#if PARVELLO_X86_VECTORS
    if (level_ == ScanLevel::Avx512) {
        if (!vectorcheck::checkBlocks512(reinterpret_cast<const unsigned char*>(bytes), checked_,
                                         filled, nonAscii_))
            checked_ = CheckInvalid;
        return checked_ != CheckInvalid;
    }
    if (level_ == ScanLevel::Avx2) {
        if (!vectorcheck::feedAvx2(reinterpret_cast<const unsigned char*>(bytes), checked_, filled,
                                   nonAscii_))
            checked_ = CheckInvalid;
        return checked_ != CheckInvalid;
    }
#endif
    checked_ = checkUtf8(level_, bytes, checked_, filled, nonAscii_);
    return checked_ != CheckInvalid;
}

Utf8Check Utf8Checker::finish(const char* bytes, qsizetype total) {
    feed(bytes, total);
#if PARVELLO_X86_VECTORS
    const auto* const in = reinterpret_cast<const unsigned char*>(bytes);
    if (checked_ != CheckInvalid &&
        ((level_ == ScanLevel::Avx512 && !vectorcheck::finish512(in, checked_, total, nonAscii_)) ||
         (level_ == ScanLevel::Avx2 && !vectorcheck::finishAvx2(in, checked_, total, nonAscii_))))
        checked_ = CheckInvalid;
    if (level_ >= ScanLevel::Avx2 && checked_ != CheckInvalid)
        checked_ = total;
#endif
    Utf8Check check;
    check.valid = checked_ == total;
    check.nonAscii = nonAscii_;
    return check;
}

char16_t* Utf8Decoder::decode(const char* bytes, qsizetype n, char16_t* out) {
    if (failed_)
        return nullptr;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    const unsigned char* const end = in + n;
    // First the sequence that the previous chunk left unfinished, a byte at a time.
    while (pendingCount_ > 0 && in < end) {
        pending_[pendingCount_++] = *in++;
        char32_t cp = 0;
        int length = 0;
        switch (decodeSequence(pending_, pendingCount_, cp, length)) {
        case Sequence::Invalid:
            failed_ = true;
            return nullptr;
        case Sequence::Incomplete:
            continue;
        case Sequence::Complete:
            pendingCount_ = 0;
            if (!(atStart_ && cp == 0xFEFF))
                out = putCodePoint(cp, out);
            atStart_ = false;
            break;
        }
    }
    return decodeFrom(in, end, out);
}

char16_t* Utf8Decoder::decodeFrom(const unsigned char* in, const unsigned char* end,
                                  char16_t* out) {
#if PARVELLO_X86_VECTORS
    const ScanLevel level = usable(level_);
#endif
    while (in < end) {
        if (!atStart_) {
            // Runs of ASCII, many bytes at a time.
            qsizetype ascii = 0;
#if PARVELLO_X86_VECTORS
            if (level >= ScanLevel::Avx2)
                ascii = widenAsciiAvx2(in, end - in, out);
            else if (level == ScanLevel::Sse2)
                ascii = widenAsciiSse2(in, end - in, out);
#endif
            in += ascii;
            out += ascii;
            while (in < end && *in < 0x80)
                *out++ = *in++;
            if (in >= end)
                break;
        } else if (*in < 0x80) {
            *out++ = *in++;
            atStart_ = false;
            continue;
        }
        char32_t cp = 0;
        int length = 0;
        switch (decodeSequence(in, end - in, cp, length)) {
        case Sequence::Invalid:
            failed_ = true;
            return nullptr;
        case Sequence::Incomplete:
            pendingCount_ = int(end - in);
            std::memcpy(pending_, in, size_t(pendingCount_));
            return out;
        case Sequence::Complete:
            break;
        }
        if (!(atStart_ && cp == 0xFEFF))
            out = putCodePoint(cp, out);
        atStart_ = false;
        in += length;
    }
    return out;
}

} // namespace parvello
