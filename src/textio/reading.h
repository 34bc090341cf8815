// Reading a text file as lines, with the decoder chosen from its byte-order mark.
#pragma once

#include "base/failure.h"
#include "textio/linearray.h"
#include "textio/textsource.h"

#include <QString>

#include <optional>

namespace parvello {

class Prompts;

// Reads the file as lines. Examines the mark (IsFileUnicode), then takes the UTF-8 road for
// a file with the UTF-8 mark and the text-stream road for every other file. Never fails:
// failures are reported through the prompts' "Application Error" box with this routine's
// location tag (or the reader's) and the step's line, and the result then has
// status NotRead and one empty line; a file whose bytes are not text has status NotText.
// With LineForm::Bytes the lines may stay undecoded (see LineArray).
LineArray ReadFileToStringLine(const QString& path, Prompts& prompts,
                               LineForm form = LineForm::Text);

// The byte-order-mark test. Returns true for a UTF-32 LE, UTF-32 BE, UTF-16 LE or UTF-16 BE
// mark; sets fileIsUtf8 for the UTF-8 mark (and clears it first, before the file is
// opened). Only the first four bytes are read. Fails when the file cannot be opened.
bool IsFileUnicode(const QString& path, bool& fileIsUtf8);

// The text-stream road: UTF-16/UTF-32 by its mark when fileIsUnicode, else the ANSI format
// (mark-less UTF-8 when the bytes are valid UTF-8 with a non-ASCII sequence, otherwise the
// ANSI code page). A line ends at CR LF, at a lone LF or at a lone CR; a final line break
// gives no extra empty line.
LineArray ReadFileToStringFSOLine(const QString& path, bool fileIsUnicode, Prompts& prompts,
                                  LineForm form = LineForm::Text);

// The UTF-8 road: the mark is dropped and the text split at CR LF only.
LineArray ReadFileToStringUTFLine(const QString& path, Prompts& prompts,
                                  LineForm form = LineForm::Text);

// Splits text at every CR LF pair into lines.spans (and shares text into lines.text). Lone
// CR and LF stay in their line; a text ending with CR LF gives a last, empty line; an empty
// text gives one empty line.
void SplitStringToLines(const QString& text, LineArray& lines);
// The same over undecoded bytes from the index from on (byte form).
void SplitStringToLines(const QByteArray& bytes, qsizetype from, LineArray& lines);

// The reader's steps for a run that streams a file instead of holding its lines: the same
// boxes, with the same tags and lines, as ReadFileToStringLine shows for the same file. The
// constructor runs the steps up to the open; the consumer takes the blocks, calls
// lineRead() as it takes each line and finish() at the end. Once a step has failed, status()
// is NotRead and the file must be left untouched.
class StreamedRead {
public:
    StreamedRead(const QString& path, Prompts& prompts, bool inBytes);
    ~StreamedRead();
    StreamedRead(const StreamedRead&) = delete;
    StreamedRead& operator=(const StreamedRead&) = delete;

    ReadStatus status() const { return status_; }
    bool fileIsUtf8() const { return fileIsUtf8_; }
    bool fileIsUnicode() const { return fileIsUnicode_; }
    SourceFile& source() { return source_; }
    SourceBlocks& blocks() { return *blocks_; }

    // Gets the next block; a read that breaks off is reported at the line of the open.
    SourceBlocks::Next next();
    // The per-line steps of the text-stream road for one more line. False once one failed.
    bool lineRead();
    // The steps after the last line.
    void finish();

private:
    bool failed() const;

    std::optional<Trap> outer_;
    std::optional<Trap> road_;
    SourceFile source_;
    std::optional<SourceBlocks> blocks_;
    ReadStatus status_ = ReadStatus::Read;
    bool fileIsUtf8_ = false;
    bool fileIsUnicode_ = false;
    bool open_ = false;
    bool empty_ = false; // the text-stream road took its branch for an empty file
    bool finished_ = false;
};

} // namespace parvello
