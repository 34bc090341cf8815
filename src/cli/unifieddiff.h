// The unified diff that parvello-cli --diff prints for a file whose result would differ
// from what it holds, written as it is found, in memory that does not grow with the files.
#pragma once

#include "cli/options.h"
#include "textio/linearray.h"
#include "textio/textencoder.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace parvello {

// A text that could not be read to its end for its diff; what() says why, in UTF-8.
class DiffFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A text handed to the diff a block at a time, in UTF-16 units.
class DiffText {
public:
    virtual ~DiffText() = default;
    // The next block of the text, valid until the next call; false at the end. A text that
    // cannot be read to its end throws a DiffFailure.
    virtual bool next(std::u16string_view& block) = 0;
};

// How much of the two texts the diff holds at once. With the defaults it holds at most
// about 40 MiB whatever the files' size.
struct DiffLimits {
    // A longer line is held as its first lineUnits UTF-16 units and a digest of the whole
    // line: lines are the same when their lengths and digests are, and a line shown in a
    // hunk is cut there, followed by "[... N more characters]".
    std::ptrdiff_t lineUnits = 1 << 20;
    // Where the texts disagree, up to this many lines (and UTF-16 units) of each are read
    // ahead to find where they agree again.
    std::ptrdiff_t windowLines = 4096;
    std::ptrdiff_t windowUnits = 4 << 20;
    // Edit scripts up to this length (lines removed plus lines added between two stretches
    // of agreement) are the shortest ones, as diff -u finds them. Past it, the script that
    // got furthest with maxEdits edits is taken when it keeps lines; when it keeps none, the
    // old lines up to the first one found among the next 4 * maxEdits new ones are removed
    // and the new lines before it added.
    int maxEdits = 64;
    // A hunk that would hold more units is written in pieces, each under a hunk header of
    // its own.
    std::ptrdiff_t hunkUnits = 4 << 20;
};

struct DiffStyle {
    std::string oldLabel; // UTF-8
    std::string newLabel;
    bool colour = false; // headers bold, "@@" lines cyan, removed lines red, added green
    int context = 3;
};

// Writes a unified diff, in UTF-8, of two texts split into lines at LF, with `context`
// unchanged lines around each change, under the headers "--- oldLabel" and "+++ newLabel";
// nothing when the texts are equal. On removed and added lines every CR is shown as U+240D
// (the symbol for carriage return), so a change of line ends alone is visible; unchanged
// context lines are shown without it. A last line without an LF is followed by
// "\ No newline at end of file". Each hunk goes to write as soon as it is complete (write
// may get several hunks at once, or part of a long one); the diff stops when write returns
// false. Returns whether the texts differ.
bool WriteUnifiedDiff(DiffText& oldText, DiffText& newText, const DiffStyle& style,
                      const std::function<bool(std::string_view)>& write,
                      const DiffLimits& limits = {});

// The diff of a source file, decoded as the engine reads it (format: as the engine found it,
// so that a mark-less file is read in its code page from the start), with its result,
// decoded from the encoding it was written in; both shown under the label.
bool WriteFileDiff(const std::string& label, const std::filesystem::path& sourcePath,
                   SourceFormat format, const std::filesystem::path& resultPath,
                   OutputEncoding encoding, bool colour,
                   const std::function<bool(std::string_view)>& write,
                   const DiffLimits& limits = {});

// Whether the diff is coloured: Always and Never as they say; Auto when standard output is
// a terminal, unless NO_COLOR is set and not empty (noColor: its value, "" when not set).
bool DiffInColour(cli::Colour option, bool terminal, std::string_view noColor);

} // namespace parvello
