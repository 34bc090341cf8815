// The loops one unit at a time that every level shares: the plain kernels are made of
// them, and the vector kernels finish with them where fewer units are left than a vector
// holds. Internal to src/textio/simd.
#pragma once

#include "base/portable.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace parvello::simd {

inline std::ptrdiff_t findLineBreakFrom(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n) {
    for (; i < n; ++i)
        if (units[i] == u'\r' || units[i] == u'\n')
            return i;
    return n;
}

inline std::ptrdiff_t findUnitFrom(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n,
                                   char16_t unit) {
    for (; i < n; ++i)
        if (units[i] == unit)
            return i;
    return n;
}

inline std::ptrdiff_t findAnyOf3From(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n,
                                     const std::array<char16_t, 3>& chars) {
    for (; i < n; ++i)
        if (units[i] == chars[0] || units[i] == chars[1] || units[i] == chars[2])
            return i;
    return n;
}

inline std::ptrdiff_t findAnyOf3BytesFrom(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t n,
                                          const std::array<char, 3>& chars) {
    for (; i < n; ++i)
        if (bytes[i] == chars[0] || bytes[i] == chars[1] || bytes[i] == chars[2])
            return i;
    return n;
}

inline std::ptrdiff_t asciiPrefixFrom(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t n) {
    while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80)
        ++i;
    return i;
}

// Encodes the character at units[i] (not ASCII) and moves i past it; null at an unpaired
// surrogate.
inline char* encodeOneUtf8(const char16_t* units, std::ptrdiff_t& i, std::ptrdiff_t n, char* out) {
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

// The outcome of decoding one UTF-8 sequence that begins with a byte above 0x7F.
enum class Sequence { Complete, Incomplete, Invalid };

// Checks the sequence at p (at most avail bytes there) and decodes it into cp and its
// length. Incomplete when the bytes there are a valid beginning of a longer sequence.
inline Sequence decodeSequence(const unsigned char* p, std::ptrdiff_t avail, char32_t& cp,
                               int& length) {
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

// Where a check of UTF-8 stopped: at the end, before a sequence cut off by the end, or at
// an invalid sequence.
constexpr std::ptrdiff_t CheckInvalid = -1;

// Checks the non-ASCII sequences from i on until the next ASCII byte. False at an invalid
// sequence, or at one cut off by the end (i is then left at its first byte).
inline bool checkSequences(const unsigned char* in, std::ptrdiff_t& i, std::ptrdiff_t n,
                           bool& cutOff) {
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
inline std::ptrdiff_t checkUtf8From(const unsigned char* in, std::ptrdiff_t i, std::ptrdiff_t n,
                                    bool& nonAscii) {
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

// The n UTF-16 units of bytes[2i..2n) copied to out[i..n); true when one of them is half
// of a surrogate pair.
inline bool decodeUtf16From(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t n, bool bigEndian,
                            char16_t* out) {
    bool surrogate = false;
    for (; i < n; ++i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        const auto unit = bigEndian ? char16_t(first << 8 | second) : char16_t(second << 8 | first);
        std::memcpy(out + i, &unit, 2); // out may be a byte buffer
        surrogate = surrogate || (unit & 0xF800) == 0xD800;
    }
    return surrogate;
}

// A code page's bytes[i..n) through its table.
inline void decodeSingleByteFrom(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t n,
                                 char16_t* out, const char16_t* toUnicode) {
    for (; i < n; ++i)
        out[i] = toUnicode[static_cast<unsigned char>(bytes[i])];
}

// units[i..n) through a code page's table; the first unit it lacks, or -1.
inline std::ptrdiff_t encodeSingleByteFrom(const char16_t* units, std::ptrdiff_t i,
                                           std::ptrdiff_t n, char* out,
                                           const std::uint16_t* fromUnicode) {
    for (; i < n; ++i) {
        const std::uint16_t entry = fromUnicode[units[i]];
        if (!entry)
            return i;
        out[i] = char(entry & 0xFF);
    }
    return -1;
}

} // namespace parvello::simd
