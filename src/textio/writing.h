// Writing the result of one file in the encoding family of its input.
#pragma once

#include "textio/fileerror.h"
#include "textio/outputfile.h"
#include "textio/textencoder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string_view>

namespace parvello {

// What became of one output file.
enum class WriteResult {
    Written,    // the file now holds the text
    Unchanged,  // it already held exactly these bytes and was left alone
    CannotHold, // the encoding cannot hold some character: the file was left untouched
    Failed,     // a step failed, or the text stopped early: the file was left untouched
    Changed,    // the same, for a target that changed while it was being processed
    InUse,      // the same, for a target that another program opened to write meanwhile
    Differs,    // only compared (OutputTarget::compareOnly): the target holds something else
};

// Receives the text of one output file piece by piece. append() returns false when the
// output's encoding cannot hold the piece; the producer then stops.
class PieceSink {
public:
    virtual bool append(std::u16string_view piece) = 0;
    // Bytes already in the output's encoding, taken as they are.
    virtual bool appendBytes(std::string_view bytes) = 0;
    // Drops every piece taken so far: the text starts again, in another encoding.
    virtual void restart(OutputEncoding encoding) = 0;

protected:
    ~PieceSink() = default;
};

// Produces the text of one output file as consecutive pieces, so that a large file is not
// held a second time as one joined text. Returns false when it stopped early because the
// sink refused a piece.
using TextPieces = std::function<bool(PieceSink& sink)>;

// What became of one output file, and the step that failed if one did.
struct WriteOutcome {
    WriteResult result = WriteResult::Failed;
    std::int64_t size = 0; // Written, Unchanged, Differs: the size of the whole result in bytes
    FileFailure failure;   // set when a step failed (Failed, Changed, InUse)
    // The folder where the result took its name by a rename after a flush shared with other
    // files (empty otherwise): its new name is durable once that folder is flushed (see
    // FlushFolders). A result that made its own flush flushed its folder at its commit.
    std::filesystem::path newNameIn;
};

// Writes the whole output of one file in the encoding (a UTF-8 or UTF-16 output begins with
// its mark), piece by piece as text hands them on, with one open, replacing the target
// atomically (see OutputFile; `where` says which file the path stands for). Nothing of the
// text is stripped, translated or added. A failure leaves the target as it was and is told
// in the outcome, with its step: preparing the output (a read-only target that would change
// is refused there), writing, or committing.
WriteOutcome WriteOutput(const std::filesystem::path& path, OutputEncoding encoding,
                         const TextPieces& text, OutputTarget where = {});

// A result on its way to its output, stopped right before the flush and the replace, so that
// many results can be made durable with one flush (FlushTogether) before each replaces its
// output: waiting holds it, whole in its temporary file. Without waiting, outcome is final
// (a failure, a result the output already held, or one written at once).
struct PreparedOutput {
    WriteOutcome outcome;
    std::unique_ptr<OutputFile> waiting;
};

// WriteOutput up to the flush: a result that may share a flush with others waits; anything
// else ends as WriteOutput ends it.
PreparedOutput PrepareOutput(const std::filesystem::path& path, OutputEncoding encoding,
                             const TextPieces& text, OutputTarget where = {});
// The rest of WriteOutput for a waiting result: the commit, with its failure told as
// WriteOutput tells it (see newNameIn for the folder's flush).
WriteOutcome CommitOutput(OutputFile& file);

// Appends text in the encoding to the file at path, creating it (with the mark) when it is
// missing, as one write at the end. Only a regular file is appended to.
WriteOutcome AppendOutput(const std::filesystem::path& path, OutputEncoding encoding,
                          std::u16string_view text);

} // namespace parvello
