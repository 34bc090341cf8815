// The inner loops over text: UTF-8 decoding, checking and encoding, UTF-16 decoding,
// code-page decoding and encoding, and the searches for line breaks and quote characters,
// each through the table of the level the program runs (textio/simd/kernels.h). The
// levels, each with its own file under textio/simd/:
// - plain (plain.cpp): one unit at a time, on every system; the reference;
// - SSE2 (sse2.cpp): 16 bytes at a time, every x86-64 processor;
// - AVX2 (avx2.cpp): the searches, the UTF-8 encoding and check 32 bytes at a time, and
//   the quotes pass 64 bytes a group (with BMI1 and POPCNT);
// - AVX-512 with VBMI (avx512.cpp): as AVX2, and the UTF-8 check 64 bytes at a time;
// - AVX-512 with VBMI2 (avx512.cpp): as with VBMI, and the quotes pass with compress and
//   expand (with BMI2).
// The processor is probed once; PARVELLO_VECTOR_LEVEL may choose a lower level, and a
// build with PARVELLO_NO_VECTORS has the plain level only. Every level gives exactly the
// same results.
#pragma once

#include "textio/simd/hits.h"
#include "textio/simd/kernels.h"

#include "base/portable.h"

#include <array>
#include <cstdint>

namespace parvello {

inline std::ptrdiff_t FindLineBreak(const char16_t* units, std::ptrdiff_t n) {
    return scanKernels.findLineBreak(units, n);
}
inline std::ptrdiff_t FindCarriageReturn(const char16_t* units, std::ptrdiff_t n) {
    return scanKernels.findCarriageReturn(units, n);
}
inline std::ptrdiff_t FindAnyOf3(const char16_t* units, std::ptrdiff_t n,
                                 const std::array<char16_t, 3>& chars) {
    return scanKernels.findAnyOf3(units, n, chars);
}
inline char* EncodeUtf8Units(const char16_t* units, std::ptrdiff_t n, char* out) {
    return scanKernels.encodeUtf8(units, n, out);
}

inline std::ptrdiff_t FindAnyOf3Bytes(const char* bytes, std::ptrdiff_t n,
                                      const std::array<char, 3>& chars) {
    return scanKernels.findAnyOf3Bytes(bytes, n, chars);
}
// Where the first CR or LF byte is, or n.
inline std::ptrdiff_t FindLineBreakByte(const char* bytes, std::ptrdiff_t n) {
    return scanKernels.findAnyOf3Bytes(bytes, n, {'\r', '\n', '\n'});
}
// Where the first CR byte is, or n.
std::ptrdiff_t FindCarriageReturnByte(const char* bytes, std::ptrdiff_t n);

// The n UTF-16 units of bytes[0..2n) (big-endian when bigEndian) copied to out, in one
// pass that also tells whether any of them is half of a surrogate pair (D800..DFFF), so
// that only then their pairing needs a look. Out may be any buffer.
inline bool DecodeUtf16Units(const char* bytes, std::ptrdiff_t n, bool bigEndian, char16_t* out) {
    return scanKernels.decodeUtf16(bytes, n, bigEndian, out);
}

// One pass over the whole 64-byte groups of bytes[i..end) that writes to out what the
// engine's pass writes for them: the rule's quotes as they become and, when lineBreaks, each
// lone CR or lone LF made CR LF (a CR LF stays as it is; the byte after each group is looked
// at, so end must then lie before the block's last byte). Without lineBreaks every line
// break stays as it is; a quote's result is never a line break. A quote whose first bytes
// lie before i is seen through carry; where they were written to out already and go, out is
// moved back over them. Returns the end of the last group it took: end's last whole group,
// or the start of a group where a removed quote stands between a lone CR and a lone LF (the
// caller takes that group itself). out moves past what was written, at most 128 bytes a
// group, and up to 128 bytes past its new end may be overwritten. Available from the AVX2
// level on (a copy for each run of quote bytes that go and each line end made; it takes
// every group) and, with AVX-512 and VBMI2, 64 bytes at a time with no branch on where the
// quotes and line breaks are; at the plain and SSE2 levels it returns i.
inline bool QuotesPassAvailable() {
    return scanKernels.quotesPass;
}
inline std::ptrdiff_t QuotesPass(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t end,
                                 char*& out, const PassQuotes& quotes, bool lineBreaks,
                                 QuotesPassCarry& carry) {
    return scanKernels.quotesPassBytes(bytes, i, end, out, quotes, lineBreaks, carry);
}
// The same for decoded text, 32 units at a time: at most 64 units a group written, and up to
// 64 past out's new end overwritten.
inline std::ptrdiff_t QuotesPass(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t end,
                                 char16_t*& out, const PassUnits& quotes, bool lineBreaks,
                                 QuotesPassCarry& carry) {
    return scanKernels.quotesPassUnits(units, i, end, out, quotes, lineBreaks, carry);
}

// What a check of bytes as UTF-8 found.
struct Utf8Check {
    bool valid = false;    // every sequence complete and well-formed, by the decoder's rules
    bool nonAscii = false; // at least one byte above 0x7F
};
// Checks bytes[0..n) as UTF-8 with exactly the rules of Utf8Decoder, without decoding them.
Utf8Check CheckUtf8(const char* bytes, std::ptrdiff_t n, ScanLevel level = ChosenScanLevel());

// The same check made while a buffer fills: feed() checks what was added since the last call
// (a sequence cut off where the bytes end waits for the next call), so that each part is
// checked while it is still in the cache.
class Utf8Checker {
public:
    explicit Utf8Checker(ScanLevel level = ChosenScanLevel());
    // Checks bytes[0..filled) from where the last call stopped. False once a sequence is
    // invalid. Every call passes the same buffer, filled further.
    bool feed(const char* bytes, std::ptrdiff_t filled);
    // The check of bytes[0..total) once all of them were fed.
    Utf8Check finish(const char* bytes, std::ptrdiff_t total);

private:
    const ScanKernels* kernels_;
    std::ptrdiff_t checked_ = 0; // -1 after an invalid sequence
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
    static constexpr std::ptrdiff_t Slack = 40;

    Utf8Decoder() : kernels_(&scanKernels) {}
    explicit Utf8Decoder(ScanLevel level) : kernels_(&ScanKernelsFor(level)) {}

    // Keeps a U+FEFF at the start of the stream as text: for a caller that has already
    // taken the file's own mark off, a second one is part of the text.
    void keepLeadingMark() { atStart_ = false; }

    // Decodes n more bytes to out and returns the end of the units written, or null when
    // the bytes are not valid UTF-8 (the decoder then stays failed).
    char16_t* decode(const char* bytes, std::ptrdiff_t n, char16_t* out);
    // True when the bytes fed so far ended at the end of a character and nothing failed.
    bool finish() const { return !failed_ && pendingCount_ == 0; }

private:
    char16_t* decodeFrom(const unsigned char* in, const unsigned char* end, char16_t* out);

    const ScanKernels* kernels_;
    bool failed_ = false;
    bool atStart_ = true;
    int pendingCount_ = 0;
    unsigned char pending_[4] = {};
};

} // namespace parvello
