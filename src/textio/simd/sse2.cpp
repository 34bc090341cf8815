// The SSE2 level: 16 bytes at a time; part of every x86-64 processor, so these loops need
// no target of their own.
#include "textio/simd/entries.h"

#if PARVELLO_X86_VECTORS
#include "textio/simd/plain.h"

#include <emmintrin.h>

namespace parvello::simd::sse2 {

std::ptrdiff_t findLineBreak(const char16_t* units, std::ptrdiff_t n) {
    const __m128i cr = _mm_set1_epi16('\r');
    const __m128i lf = _mm_set1_epi16('\n');
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const int mask =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, cr), _mm_cmpeq_epi16(v, lf)));
        if (mask)
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    return findLineBreakFrom(units, i, n);
}

std::ptrdiff_t findUnit(const char16_t* units, std::ptrdiff_t n, char16_t unit) {
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (const int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, wanted)))
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    return findUnitFrom(units, i, n, unit);
}

inline int hits(__m128i v, __m128i a, __m128i b, __m128i c) {
    return _mm_movemask_epi8(_mm_or_si128(
        _mm_or_si128(_mm_cmpeq_epi16(v, a), _mm_cmpeq_epi16(v, b)), _mm_cmpeq_epi16(v, c)));
}

std::ptrdiff_t findAnyOf3(const char16_t* units, std::ptrdiff_t n,
                          const std::array<char16_t, 3>& chars) {
    const __m128i a = _mm_set1_epi16(static_cast<short>(chars[0]));
    const __m128i b = _mm_set1_epi16(static_cast<short>(chars[1]));
    const __m128i c = _mm_set1_epi16(static_cast<short>(chars[2]));
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (const int mask = hits(v, a, b, c))
            return i + std::countr_zero(unsigned(mask)) / 2;
    }
    if (i < n && n >= 8) {
        // The last eight units, of which the first ones were looked at already.
        const std::ptrdiff_t from = n - 8;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + from));
        const unsigned mask = unsigned(hits(v, a, b, c)) & (~0u << (2 * (i - from)));
        return mask ? from + std::countr_zero(mask) / 2 : n;
    }
    return findAnyOf3From(units, i, n, chars);
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
inline bool asciiTail(const char16_t* units, std::ptrdiff_t& i, std::ptrdiff_t n, char*& out) {
    __m128i bytes;
    if (n >= 16) {
        const std::ptrdiff_t from = n - 16;
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
char* encodeUtf8(const char16_t* units, std::ptrdiff_t n, char* out) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    std::ptrdiff_t i = 0;
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
        if (i + 16 > n && asciiTail(units, i, n, out))
            break;
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    }
    return out;
}

// Sixteen ASCII bytes at a time become sixteen units; stops before the first other byte.
std::ptrdiff_t widenAscii(const unsigned char* in, std::ptrdiff_t n, char16_t* out) {
    const __m128i zero = _mm_setzero_si128();
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return i;
}

std::ptrdiff_t findAnyOf3Bytes(const char* bytes, std::ptrdiff_t n,
                               const std::array<char, 3>& chars) {
    const __m128i a = _mm_set1_epi8(chars[0]);
    const __m128i b = _mm_set1_epi8(chars[1]);
    const __m128i c = _mm_set1_epi8(chars[2]);
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, a), _mm_cmpeq_epi8(v, b)),
                                         _mm_cmpeq_epi8(v, c));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(hit)))
            return i + std::countr_zero(mask);
    }
    return findAnyOf3BytesFrom(bytes, i, n, chars);
}

std::ptrdiff_t asciiPrefix(const char* bytes, std::ptrdiff_t n) {
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (const unsigned mask = unsigned(_mm_movemask_epi8(v)))
            return i + std::countr_zero(mask);
    }
    return asciiPrefixFrom(bytes, i, n);
}

std::ptrdiff_t findCarriageReturn(const char16_t* units, std::ptrdiff_t n) {
    return findUnit(units, n, u'\r');
}

// Checks in[i..n) as UTF-8: whole blocks of ASCII are passed over; the sequences of a block
// that has others are checked one by one, and the next block begins after them.
bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,
              bool& nonAscii) {
    std::ptrdiff_t i = checked;
    bool sawNonAscii = false;
    while (i + 16 <= filled) {
        const auto mask =
            unsigned(_mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
        if (!mask) {
            i += 16;
            continue;
        }
        i += std::countr_zero(mask);
        sawNonAscii = true;
        bool cutOff = false;
        if (!checkSequences(in, i, filled, cutOff)) {
            nonAscii = true;
            checked = cutOff ? i : CheckInvalid;
            return cutOff;
        }
    }
    nonAscii = nonAscii || sawNonAscii;
    checked = checkUtf8From(in, i, filled, nonAscii);
    return checked != CheckInvalid;
}

bool decodeUtf16(const char* bytes, std::ptrdiff_t n, bool bigEndian, char16_t* out) {
    const __m128i top = _mm_set1_epi16(short(0xF800));
    const __m128i half = _mm_set1_epi16(short(0xD800));
    __m128i found = _mm_setzero_si128();
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i));
        if (bigEndian)
            v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        found = _mm_or_si128(found, _mm_cmpeq_epi16(_mm_and_si128(v, top), half));
    }
    const bool surrogate = _mm_movemask_epi8(found) != 0;
    return decodeUtf16From(bytes, i, n, bigEndian, out) || surrogate;
}

// Blocks of sixteen ASCII bytes are widened, the others go through the table.
void decodeSingleByte(const char* bytes, std::ptrdiff_t n, char16_t* out,
                      const char16_t* toUnicode) {
    const __m128i zero = _mm_setzero_si128();
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        if (_mm_movemask_epi8(chunk) == 0) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(chunk, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8),
                             _mm_unpackhi_epi8(chunk, zero));
        } else {
            decodeSingleByteFrom(bytes, i, i + 16, out, toUnicode);
        }
    }
    decodeSingleByteFrom(bytes, i, n, out, toUnicode);
}

// Blocks of sixteen ASCII units are packed, the others go through the table.
std::ptrdiff_t encodeSingleByte(const char16_t* units, std::ptrdiff_t n, char* out,
                                const std::uint16_t* fromUnicode) {
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    std::ptrdiff_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i + 8));
        const __m128i nonAscii = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(nonAscii, zero)) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
            continue;
        }
        const std::ptrdiff_t lacking = encodeSingleByteFrom(units, i, i + 16, out, fromUnicode);
        if (lacking >= 0)
            return lacking;
    }
    return encodeSingleByteFrom(units, i, n, out, fromUnicode);
}

// Blocks of eight units without any surrogate are passed over.
std::ptrdiff_t skipNonSurrogates(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n) {
    const __m128i mask = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
    while (i + 8 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(units + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, mask), surrogate)))
            break;
        i += 8;
    }
    return i;
}

} // namespace parvello::simd::sse2
#endif
