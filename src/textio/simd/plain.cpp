// The plain level: one unit at a time, on every system. The reference that every vector
// level must match.
#include "textio/simd/plain.h"
#include "textio/simd/entries.h"

namespace parvello::simd::plain {

std::ptrdiff_t findLineBreak(const char16_t* units, std::ptrdiff_t n) {
    return findLineBreakFrom(units, 0, n);
}

std::ptrdiff_t findCarriageReturn(const char16_t* units, std::ptrdiff_t n) {
    return findUnitFrom(units, 0, n, u'\r');
}

std::ptrdiff_t findAnyOf3(const char16_t* units, std::ptrdiff_t n,
                          const std::array<char16_t, 3>& chars) {
    return findAnyOf3From(units, 0, n, chars);
}

char* encodeUtf8(const char16_t* units, std::ptrdiff_t n, char* out) {
    for (std::ptrdiff_t i = 0; i < n;)
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    return out;
}

std::ptrdiff_t findAnyOf3Bytes(const char* bytes, std::ptrdiff_t n,
                               const std::array<char, 3>& chars) {
    return findAnyOf3BytesFrom(bytes, 0, n, chars);
}

std::ptrdiff_t asciiPrefix(const char* bytes, std::ptrdiff_t n) {
    return asciiPrefixFrom(bytes, 0, n);
}

std::ptrdiff_t widenAscii(const unsigned char*, std::ptrdiff_t, char16_t*) {
    return 0; // the decoder takes the ASCII bytes one at a time
}

bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,
              bool& nonAscii) {
    checked = checkUtf8From(in, checked, filled, nonAscii);
    return checked != CheckInvalid;
}

bool finishUtf8(const unsigned char*, std::ptrdiff_t&, std::ptrdiff_t, bool&) {
    return true; // feedUtf8 checked every byte; a sequence cut off by the end stays unchecked
}

std::ptrdiff_t quotesPassBytes(const char*, std::ptrdiff_t i, std::ptrdiff_t, char*&,
                               const PassQuotes&, bool, QuotesPassCarry&) {
    return i;
}

std::ptrdiff_t quotesPassUnits(const char16_t*, std::ptrdiff_t i, std::ptrdiff_t, char16_t*&,
                               const PassUnits&, bool, QuotesPassCarry&) {
    return i;
}

bool decodeUtf16(const char* bytes, std::ptrdiff_t n, bool bigEndian, char16_t* out) {
    return decodeUtf16From(bytes, 0, n, bigEndian, out);
}

void decodeSingleByte(const char* bytes, std::ptrdiff_t n, char16_t* out,
                      const char16_t* toUnicode) {
    decodeSingleByteFrom(bytes, 0, n, out, toUnicode);
}

std::ptrdiff_t encodeSingleByte(const char16_t* units, std::ptrdiff_t n, char* out,
                                const std::uint16_t* fromUnicode) {
    return encodeSingleByteFrom(units, 0, n, out, fromUnicode);
}

std::ptrdiff_t skipNonSurrogates(const char16_t*, std::ptrdiff_t i, std::ptrdiff_t) {
    return i;
}

} // namespace parvello::simd::plain
