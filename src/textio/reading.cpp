#include "textio/reading.h"

#include "textio/codepage.h"
#include "textio/fileerror.h"
#include "textio/textloader.h"
#include "textio/textscan.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <type_traits>

namespace parvello {

namespace {

// The spans of text[from..n) split at every CR LF pair: lone CR and LF stay in their line,
// a text ending with CR LF gives a last, empty line, an empty text one empty line.
template <class Unit>
void splitAtCrLf(const Unit* units, std::ptrdiff_t from, std::ptrdiff_t n,
                 std::vector<LineSpan>& spans) {
    spans.clear();
    std::ptrdiff_t start = from;
    for (;;) {
        std::ptrdiff_t cr;
        if constexpr (std::is_same_v<Unit, char>)
            cr = from + FindCarriageReturnByte(units + from, n - from);
        else
            cr = from + FindCarriageReturn(units + from, n - from);
        if (cr >= n)
            break;
        if (cr + 1 < n && units[cr + 1] == Unit('\n')) {
            spans.push_back(LineSpan{start, cr - start});
            start = cr + 2;
        }
        from = cr + 1;
    }
    spans.push_back(LineSpan{start, n - start});
}

// The spans of text[0..n) split at every line break: CR LF, a lone LF or a lone CR. A final
// line break gives no extra line; an empty text gives none (see ReadWholeLines).
template <class Unit>
void splitAtAnyBreak(const Unit* units, std::ptrdiff_t n, std::vector<LineSpan>& spans) {
    spans.clear();
    for (std::ptrdiff_t start = 0; start < n;) {
        std::ptrdiff_t end;
        if constexpr (std::is_same_v<Unit, char>)
            end = start + FindLineBreakByte(units + start, n - start);
        else
            end = start + FindLineBreak(units + start, n - start);
        spans.push_back(LineSpan{start, end - start});
        if (end >= n)
            break;
        const bool crLf = units[end] == Unit('\r') && end + 1 < n && units[end + 1] == Unit('\n');
        start = end + (crLf ? 2 : 1);
    }
}

} // namespace

LineArray ReadWholeLines(const std::filesystem::path& path, LineForm form) {
    LineArray lines;
    try {
        SourceFile source = OpenSource(path);
        lines.fileIsUtf8 = source.fileIsUtf8;
        lines.fileIsUnicode = source.fileIsUnicode;
        const LoadAs how = source.fileIsUtf8      ? LoadAs::Utf8WithMark
                           : source.fileIsUnicode ? LoadAs::Unicode
                                                  : LoadAs::Ansi;
        LoadedText loaded = LoadText(source, how, form);
        lines.format = loaded.format;
        if (!loaded.notText.empty()) {
            lines.status = ReadStatus::NotText;
            lines.problem = std::move(loaded.notText);
        } else if (source.fileIsUtf8) {
            if (loaded.inBytes)
                SplitStringToLines(std::move(loaded.bytes), 0, lines);
            else
                SplitStringToLines(std::move(loaded.text), lines);
            // A text that ends with CR LF, the line break of this road, has no further line.
            if (lines.spans.size() > 1 && lines.spans.back().length == 0)
                lines.spans.pop_back();
        } else {
            lines.inBytes = loaded.inBytes;
            lines.text = std::move(loaded.text);
            lines.bytes = std::move(loaded.bytes);
            if (lines.inBytes)
                splitAtAnyBreak(lines.bytes.data(), std::ptrdiff_t(lines.bytes.size()),
                                lines.spans);
            else
                splitAtAnyBreak(lines.text.data(), std::ptrdiff_t(lines.text.size()), lines.spans);
        }
    } catch (...) {
        lines = LineArray();
        lines.status = ReadStatus::NotRead;
    }
    if (lines.spans.empty())
        lines.spans.push_back(LineSpan{});
    return lines;
}

bool IsFileUnicode(const std::filesystem::path& path, bool& fileIsUtf8) {
    fileIsUtf8 = false;
    ReadOnlyFile file(path);
    if (!file.open())
        ThrowOpenFailure(file.errorString(), path);
    char first[4] = {0, 0, 0, 0};
    // Every test needs at most four bytes, so the bytes read stand for the file's length.
    const std::int64_t length = file.read(first, 4);
    if (length < 0)
        ThrowIoFailure(file.errorString(), path);
    return MarkIsUnicode(std::string_view(first, size_t(length)), fileIsUtf8);
}

SourceReader::SourceReader(const std::filesystem::path& path, bool inBytes, int folder) {
    try {
        source_ = OpenSource(path, folder);
    } catch (...) {
        failure_ = FailureOf(FileStep::Open, std::current_exception());
        return;
    }
    try {
        const LoadAs how = source_.fileIsUtf8      ? LoadAs::Utf8WithMark
                           : source_.fileIsUnicode ? LoadAs::Unicode
                                                   : LoadAs::Ansi;
        blocks_.emplace(source_, how, inBytes);
    } catch (...) {
        failure_ = FailureOf(FileStep::Read, std::current_exception());
    }
}

SourceReader::~SourceReader() = default;

SourceBlocks::Next SourceReader::next() {
    if (failure_)
        return SourceBlocks::Next::End;
    try {
        return blocks_->next();
    } catch (...) {
        failure_ = FailureOf(FileStep::Read, std::current_exception());
        return SourceBlocks::Next::End;
    }
}

void SplitStringToLines(std::u16string text, LineArray& lines) {
    lines.text = std::move(text);
    lines.inBytes = false;
    lines.bytes.clear();
    splitAtCrLf(lines.text.data(), 0, std::ptrdiff_t(lines.text.size()), lines.spans);
}

void SplitStringToLines(std::string bytes, std::ptrdiff_t from, LineArray& lines) {
    lines.text.clear();
    lines.inBytes = true;
    lines.bytes = std::move(bytes);
    splitAtCrLf(lines.bytes.data(), from, std::ptrdiff_t(lines.bytes.size()), lines.spans);
}

} // namespace parvello
