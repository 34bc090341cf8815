// The plain level: one unit at a time, on every system. The reference that every vector
// level must match.
#include "textio/simd/plain.h"
#include "textio/simd/entries.h"

namespace parvello::simd::plain {

qsizetype findLineBreak(const char16_t* units, qsizetype n) {
    return findLineBreakFrom(units, 0, n);
}

qsizetype findCarriageReturn(const char16_t* units, qsizetype n) {
    return findUnitFrom(units, 0, n, u'\r');
}

qsizetype findAnyOf3(const char16_t* units, qsizetype n, const std::array<char16_t, 3>& chars) {
    return findAnyOf3From(units, 0, n, chars);
}

char* encodeUtf8(const char16_t* units, qsizetype n, char* out) {
    for (qsizetype i = 0; i < n;)
        if (!(out = encodeOneUtf8(units, i, n, out)))
            return nullptr;
    return out;
}

qsizetype findAnyOf3Bytes(const char* bytes, qsizetype n, const std::array<char, 3>& chars) {
    return findAnyOf3BytesFrom(bytes, 0, n, chars);
}

qsizetype asciiPrefix(const char* bytes, qsizetype n) {
    return asciiPrefixFrom(bytes, 0, n);
}

qsizetype widenAscii(const unsigned char*, qsizetype, char16_t*) {
    return 0; // the decoder takes the ASCII bytes one at a time
}

bool feedUtf8(const unsigned char* in, qsizetype& checked, qsizetype filled, bool& nonAscii) {
    checked = checkUtf8From(in, checked, filled, nonAscii);
    return checked != CheckInvalid;
}

bool finishUtf8(const unsigned char*, qsizetype&, qsizetype, bool&) {
    return true; // feedUtf8 checked every byte; a sequence cut off by the end stays unchecked
}

qsizetype quotesPassBytes(const char*, qsizetype i, qsizetype, char*&, const PassQuotes&, bool,
                          QuotesPassCarry&) {
    return i;
}

qsizetype quotesPassUnits(const char16_t*, qsizetype i, qsizetype, char16_t*&, const PassUnits&,
                          bool, QuotesPassCarry&) {
    return i;
}

bool decodeUtf16(const char* bytes, qsizetype n, bool bigEndian, char16_t* out) {
    return decodeUtf16From(bytes, 0, n, bigEndian, out);
}

void decodeSingleByte(const char* bytes, qsizetype n, char16_t* out, const char16_t* toUnicode) {
    decodeSingleByteFrom(bytes, 0, n, out, toUnicode);
}

qsizetype encodeSingleByte(const char16_t* units, qsizetype n, char* out,
                           const std::uint16_t* fromUnicode) {
    return encodeSingleByteFrom(units, 0, n, out, fromUnicode);
}

qsizetype skipNonSurrogates(const char16_t*, qsizetype i, qsizetype) {
    return i;
}

} // namespace parvello::simd::plain
