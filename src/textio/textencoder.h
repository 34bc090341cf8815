// Turning text into the bytes of an output file.
#pragma once

#include "textio/linearray.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace parvello {

class CodePage;

// The encoding of an output file.
enum class OutputEncoding {
    CodePage,     // the ANSI code page, no mark
    Utf8,         // UTF-8 without a mark (a mark-less UTF-8 input)
    Utf8WithMark, // EF BB BF, then UTF-8
    Utf16LE,      // FF FE, then UTF-16 little-endian
};

// The encoding a file is written back in, from the format it was read in: UTF-8 with its
// mark for a marked UTF-8 input, UTF-16 LE with FF FE for any UTF-16 or UTF-32 input,
// mark-less UTF-8 for a mark-less UTF-8 input, the code page otherwise.
OutputEncoding OutputEncodingFor(SourceFormat format);
OutputEncoding OutputEncodingFor(const LineArray& lines);

// Why a file was left untouched when its encoding cannot hold the result.
std::string CannotHoldReason(OutputEncoding encoding);

// The index of the first unpaired surrogate in text, or -1 when it is well-formed UTF-16.
std::ptrdiff_t FindUnpairedSurrogate(std::u16string_view text);

// Appends encoded text to a byte buffer. A character the encoding cannot hold (outside the
// code page; an unpaired surrogate in a Unicode encoding) stops it: nothing is replaced by
// "?".
class TextEncoder {
public:
    // For OutputEncoding::CodePage this looks up the ANSI code page and fails when it is
    // not usable.
    explicit TextEncoder(OutputEncoding encoding);

    OutputEncoding encoding() const { return encoding_; }
    // The bytes that begin a new file: EF BB BF, FF FE, or none.
    std::string_view mark() const;
    // The most bytes one UTF-16 unit can take.
    int maxBytesPerUnit() const { return bytesPerUnit_; }
    // Writes the encoding of text at out, which has room for maxBytesPerUnit() bytes per
    // unit, and returns the end of what it wrote; null when some character cannot be held.
    char* encode(std::u16string_view text, char* out) const;
    // Appends the encoding of text to out. Returns false when some character cannot be
    // held; out then holds an unspecified part of the text.
    bool append(std::u16string_view text, std::string& out) const;
    // Why the last append returned false, for the summary of files left untouched.
    std::string cannotHoldReason() const;

private:
    OutputEncoding encoding_;
    int bytesPerUnit_ = 3;
    const CodePage* codePage_ = nullptr;
};

// UTF-8 of text at out (room for three bytes per unit); null at an unpaired surrogate.
char* EncodeUtf8(std::u16string_view text, char* out);

} // namespace parvello
