// The kernels of each level, by level, as the table of tables (dispatch.cpp) takes them.
// A level's file defines its own; where a level gains nothing over the one below, its
// table takes that one's. Internal to src/textio/simd.
#pragma once

#include "textio/simd/kernels.h"

// The kernels that every level has, declared in the namespace of a level.
#define PARVELLO_DECLARE_KERNELS                                                                   \
    std::ptrdiff_t findLineBreak(const char16_t* units, std::ptrdiff_t n);                         \
    std::ptrdiff_t findCarriageReturn(const char16_t* units, std::ptrdiff_t n);                    \
    std::ptrdiff_t findAnyOf3(const char16_t* units, std::ptrdiff_t n,                             \
                              const std::array<char16_t, 3>& chars);                               \
    char* encodeUtf8(const char16_t* units, std::ptrdiff_t n, char* out);                          \
    std::ptrdiff_t findAnyOf3Bytes(const char* bytes, std::ptrdiff_t n,                            \
                                   const std::array<char, 3>& chars);                              \
    std::ptrdiff_t asciiPrefix(const char* bytes, std::ptrdiff_t n);                               \
    std::ptrdiff_t widenAscii(const unsigned char* in, std::ptrdiff_t n, char16_t* out);           \
    bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,         \
                  bool& nonAscii)

// The quotes pass of a level.
#define PARVELLO_DECLARE_QUOTES_PASS                                                               \
    std::ptrdiff_t quotesPassBytes(const char* bytes, std::ptrdiff_t i, std::ptrdiff_t end,        \
                                   char*& out, const PassQuotes& quotes, bool lineBreaks,          \
                                   QuotesPassCarry& carry);                                        \
    std::ptrdiff_t quotesPassUnits(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t end,    \
                                   char16_t*& out, const PassUnits& quotes, bool lineBreaks,       \
                                   QuotesPassCarry& carry)

// The kernels over whole buffers that the levels above SSE2 leave to it.
#define PARVELLO_DECLARE_BUFFER_KERNELS                                                            \
    bool decodeUtf16(const char* bytes, std::ptrdiff_t n, bool bigEndian, char16_t* out);          \
    void decodeSingleByte(const char* bytes, std::ptrdiff_t n, char16_t* out,                      \
                          const char16_t* toUnicode);                                              \
    std::ptrdiff_t encodeSingleByte(const char16_t* units, std::ptrdiff_t n, char* out,            \
                                    const std::uint16_t* fromUnicode);                             \
    std::ptrdiff_t skipNonSurrogates(const char16_t* units, std::ptrdiff_t i, std::ptrdiff_t n)

namespace parvello::simd {

namespace plain {
PARVELLO_DECLARE_KERNELS;
bool finishUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t total,
                bool& nonAscii);
PARVELLO_DECLARE_QUOTES_PASS;
PARVELLO_DECLARE_BUFFER_KERNELS;
} // namespace plain

#if PARVELLO_X86_VECTORS
namespace sse2 {
PARVELLO_DECLARE_KERNELS;
PARVELLO_DECLARE_BUFFER_KERNELS;
} // namespace sse2

namespace avx2 {
PARVELLO_DECLARE_KERNELS;
bool finishUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t total,
                bool& nonAscii);
PARVELLO_DECLARE_QUOTES_PASS;
} // namespace avx2

namespace avx512 {
// The UTF-8 check 64 bytes at a time (VBMI) and the quotes pass with compress (VBMI2).
bool feedUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t filled,
              bool& nonAscii);
bool finishUtf8(const unsigned char* in, std::ptrdiff_t& checked, std::ptrdiff_t total,
                bool& nonAscii);
PARVELLO_DECLARE_QUOTES_PASS;
} // namespace avx512
#endif

} // namespace parvello::simd

#undef PARVELLO_DECLARE_KERNELS
#undef PARVELLO_DECLARE_QUOTES_PASS
#undef PARVELLO_DECLARE_BUFFER_KERNELS
