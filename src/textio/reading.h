// Reading a source file: its mark, its blocks, and text split into lines.
#pragma once

#include "textio/fileerror.h"
#include "textio/linearray.h"
#include "textio/textsource.h"

#include <filesystem>
#include <optional>

namespace parvello {

// The byte-order-mark test. Returns true for a UTF-32 LE, UTF-32 BE, UTF-16 LE or UTF-16 BE
// mark; sets fileIsUtf8 for the UTF-8 mark (and clears it first, before the file is
// opened). Only the first four bytes are read. Fails when the file cannot be opened.
bool IsFileUnicode(const std::filesystem::path& path, bool& fileIsUtf8);

// Splits text at every CR LF pair into lines.spans (and moves text into lines.text). Lone
// CR and LF stay in their line; a text ending with CR LF gives a last, empty line; an empty
// text gives one empty line.
void SplitStringToLines(std::u16string text, LineArray& lines);
// The same over undecoded bytes from the index from on (byte form).
void SplitStringToLines(std::string bytes, std::ptrdiff_t from, LineArray& lines);

// The file's text read whole and split into lines as its road splits them: at CR LF only on
// the UTF-8 road (a text ending with CR LF has no further line), at CR LF, a lone LF or a
// lone CR on the text-stream road (a final line break gives no extra line). At least one
// line; status NotRead when the file cannot be read, NotText when its bytes are not text.
LineArray ReadWholeLines(const std::filesystem::path& path, LineForm form = LineForm::Text);

// A source file opened for a run that streams it: the mark test on its first block, then its
// blocks on the road the mark chooses (the UTF-8 road for the UTF-8 mark, decoded by the mark
// for UTF-16 and UTF-32, else the bytes as mark-less UTF-8 or the code page). Nothing is
// thrown: once opening or reading has failed, failure() says at which step and why, next()
// gives End, and the file must be left untouched.
class SourceReader {
public:
    // With `folder`, see ReadOnlyFile.
    SourceReader(const std::filesystem::path& path, bool inBytes, int folder = -1);
    ~SourceReader();
    SourceReader(const SourceReader&) = delete;
    SourceReader& operator=(const SourceReader&) = delete;

    bool failed() const { return bool(failure_); }
    const FileFailure& failure() const { return failure_; }
    bool fileIsUtf8() const { return source_.fileIsUtf8; }
    bool fileIsUnicode() const { return source_.fileIsUnicode; }
    SourceFile& source() { return source_; }
    SourceBlocks& blocks() { return *blocks_; }

    // The next block (see SourceBlocks::next).
    SourceBlocks::Next next();

private:
    SourceFile source_;
    std::optional<SourceBlocks> blocks_;
    FileFailure failure_;
};

} // namespace parvello
