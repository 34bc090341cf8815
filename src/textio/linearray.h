// A file's content as lines: one decoded text and, for each line, where it lies in it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace parvello {

// How the bytes of a file were decoded.
enum class SourceFormat {
    CodePage,     // no mark: the ANSI code page (also every mark-less ASCII file)
    Utf8,         // no mark, but valid UTF-8 holding at least one non-ASCII sequence
    Utf8WithMark, // EF BB BF
    Utf16LE,      // FF FE
    Utf16BE,      // FE FF
    Utf32LE,      // FF FE 00 00
    Utf32BE,      // 00 00 FE FF
};

enum class ReadStatus {
    Read,    // the lines hold the file's content
    NotRead, // a failure was reported while reading; the lines are not the file's content
    NotText, // the bytes are not text in the encoding they claim; see LineArray::problem
};

// What form a reader leaves the lines in.
enum class LineForm {
    Text,  // always decoded into LineArray::text
    Bytes, // undecoded where the encoding allows it (see LineArray)
};

struct LineSpan {
    std::ptrdiff_t start = 0;
    std::ptrdiff_t length = 0;
};

// The reader's result. Instead of two flags of a module that describe "the file read last",
// each result carries its own fileIsUnicode and fileIsUtf8, with the same meaning:
// fileIsUtf8 when the file began with the UTF-8 mark, fileIsUnicode when it began with a
// UTF-16 or UTF-32 mark. The lines are views into one decoded text, so a large file is held
// once. There is always at least one line.
//
// A reader asked for LineForm::Bytes leaves a file in UTF-8 (with or without its mark) or in
// an ASCII-compatible code page undecoded: inBytes is then set, text stays empty and the
// spans index bytes, the file's own bytes (after a UTF-8 mark), already checked to be text
// in that encoding. Its lines are the same lines, only not yet decoded.
struct LineArray {
    bool fileIsUnicode = false;
    bool fileIsUtf8 = false;
    SourceFormat format = SourceFormat::CodePage;
    ReadStatus status = ReadStatus::Read;
    std::string problem; // for NotText: why the bytes are not text (UTF-8)

    std::u16string text;
    std::vector<LineSpan> spans;
    bool inBytes = false;
    std::string bytes;

    std::ptrdiff_t size() const { return std::ptrdiff_t(spans.size()); }
    // Line i of a byte-form array.
    std::string_view byteLine(std::ptrdiff_t i) const {
        const LineSpan& span = spans[size_t(i)];
        return std::string_view(bytes).substr(size_t(span.start), size_t(span.length));
    }
    // Line i of a decoded array.
    std::u16string_view operator[](std::ptrdiff_t i) const {
        const LineSpan& span = spans[size_t(i)];
        return std::u16string_view(text).substr(size_t(span.start), size_t(span.length));
    }
};

} // namespace parvello
