// The inner loops over text: UTF-8 decoding, UTF-8 encoding and the searches for line
// breaks and quote characters. Each comes in a plain version and, on x86-64 with GCC or
// Clang, in vector versions (SSE2, which every x86-64 processor has, and AVX2 where the
// processor offers it, checked at run time). Every version gives exactly the same result;
// the plain one is the reference and runs on every other system.
#pragma once

#include <QtGlobal>

#include <array>

namespace parvello {

// Which version of the loops runs.
enum class ScanLevel {
    Plain, // one unit at a time
    Sse2,  // 16 bytes at a time
    Avx2,  // 32 bytes at a time
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
//   returns the end of what was written, or null at an unpaired surrogate.
struct ScanKernels {
    qsizetype (*findLineBreak)(const char16_t* units, qsizetype n);
    qsizetype (*findCarriageReturn)(const char16_t* units, qsizetype n);
    qsizetype (*findAnyOf3)(const char16_t* units, qsizetype n,
                            const std::array<char16_t, 3>& chars);
    char* (*encodeUtf8)(const char16_t* units, qsizetype n, char* out);
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
