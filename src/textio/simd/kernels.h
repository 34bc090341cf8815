// The table of the inner loops over text, one table per processor level, and the table the
// program runs, chosen once before main from the chosen level (simd/level.h). A call goes
// through the table: one indirect call, no test of the level per call.
#pragma once

#include "textio/simd/level.h"

#include "base/portable.h"

#include <array>
#include <cstdint>

namespace parvello {

// A rule for the quotes pass: each quote's bytes in the encoding (one or three bytes; none
// where the encoding has no bytes for it) and what it becomes: nothing, one byte in its
// place, or (a quote of three bytes) its own first two bytes and another last one.
struct PassQuotes {
    std::array<std::array<char, 3>, 3> bytes{};
    std::array<int, 3> length{};
    std::array<int, 3> kept{};     // of the quote's bytes, how many stay: 0, 1 or all 3
    std::array<char, 3> last{};    // what the last of them becomes
    std::array<bool, 3> changes{}; // whether it becomes something else than itself (counted)
};
// The same for decoded text: the family's three quotes, one unit each, and each removed or
// replaced by one unit.
struct PassUnits {
    std::array<char16_t, 3> quotes{};
    std::array<bool, 3> removed{};
    std::array<char16_t, 3> becomes{};
    std::array<bool, 3> changes{}; // whether it becomes something else than itself (counted)
};
// What the quotes pass carries from one call to the next over the same block: whether the
// byte before was a CR, and each three-byte quote's first two bytes there. Cleared at a
// block's start (and where a caller took the bytes before itself, changed excepted).
// changed counts the quotes the pass changed (those marked in changes), each at its last
// unit, in the groups it took: every call adds to it.
struct QuotesPassCarry {
    std::uint64_t crBefore = 0;
    std::array<std::uint64_t, 3> firstBefore{};
    std::array<std::uint64_t, 3> secondBefore{};
    std::int64_t changed = 0;
};

// The loops of one level; every level gives exactly the results of the plain one.
// - findLineBreak: where the first CR or LF is in units[0..n), or n when there is none;
// - findCarriageReturn: where the first CR is, or n;
// - findAnyOf3: where the first of three characters is, or n;
// - encodeUtf8: UTF-8 of units[0..n) at out, which has room for three bytes per unit;
//   returns the end of what was written, or null at an unpaired surrogate;
// - findAnyOf3Bytes: where the first of three bytes is in bytes[0..n), or n;
// - asciiPrefix: how many bytes at the start of bytes[0..n) are ASCII (below 0x80);
// - widenAscii: the ASCII bytes at the start of in[0..n) as units at out, whole blocks only
//   (a block's units may be written past the count returned); returns how many;
// - decodeUtf16: see DecodeUtf16Units (textscan.h);
// - decodeSingleByte: bytes[0..n) of a code page whose bytes 0..127 are ASCII, through its
//   table toUnicode (256 units), at out;
// - encodeSingleByte: units[0..n) through such a code page's table fromUnicode (65536
//   entries, zero for a unit it lacks, else 0x100 | byte) at out; returns the first unit it
//   lacks, or -1;
// - skipNonSurrogates: from i, past the blocks of units[0..n) without a surrogate (D800..
//   DFFF); returns i at the first block with one, or where too few units are left;
// - feedUtf8, finishUtf8: the work of Utf8Checker::feed and ::finish (textscan.h), checked_
//   in checked (-1 after an invalid sequence is never passed in);
// - quotesPass: whether quotesPassBytes and quotesPassUnits do anything (QuotesPass in
//   textscan.h); where they do not, they return i.
struct ScanKernels {
    ScanLevel level;
    std::ptrdiff_t (*findLineBreak)(const char16_t* units, std::ptrdiff_t n);
    std::ptrdiff_t (*findCarriageReturn)(const char16_t* units, std::ptrdiff_t n);
    std::ptrdiff_t (*findAnyOf3)(const char16_t* units, std::ptrdiff_t n,
                                 const std::array<char16_t, 3>& chars);
    char* (*encodeUtf8)(const char16_t* units, std::ptrdiff_t n, char* out);
    std::ptrdiff_t (*findAnyOf3Bytes)(const char* bytes, std::ptrdiff_t n,
                                      const std::array<char, 3>& chars);
    std::ptrdiff_t (*asciiPrefix)(const char* bytes, std::ptrdiff_t n);
    std::ptrdiff_t (*widenAscii)(const unsigned char* in, std::ptrdiff_t n, char16_t* out);
    bool (*decodeUtf16)(const char* bytes, std::ptrdiff_t n, bool bigEndian, char16_t* out);
    void (*decodeSingleByte)(const char* bytes, std::ptrdiff_t n, char16_t* out,
                             const char16_t* toUnicode);
    std::ptrdiff_t (*encodeSingleByte)(const char16_t* units, std::ptrdiff_t n, char* out,
                                       const std::uint16_t* fromUnicode);
    std::ptrdiff_t (*skipNonSurrogates)(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n);
    bool (*feedUtf8)(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,
                     bool& nonAscii);
    bool (*finishUtf8)(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t total,
                       bool& nonAscii);
    bool quotesPass;
    std::ptrdiff_t (*quotesPassBytes)(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t end,
                                      char*& out, const PassQuotes& quotes, bool lineBreaks,
                                      QuotesPassCarry& carry);
    std::ptrdiff_t (*quotesPassUnits)(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t end,
                                      char16_t*& out, const PassUnits& quotes, bool lineBreaks,
                                      QuotesPassCarry& carry);
};

// The loops of a level (the plain ones for a level above the chosen one).
const ScanKernels& ScanKernelsFor(ScanLevel level);
// The loops of the chosen level, chosen once before main.
extern const ScanKernels& scanKernels;

} // namespace parvello
