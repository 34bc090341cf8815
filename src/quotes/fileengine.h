// The work of a run on one file: read it whole, pass every line through the rule, write the
// result in the encoding family of the input. The window's run and the command-line
// companion both go through ProcessFile.
#pragma once

#include "quotes/quoterule.h"

#include <QString>

#include <functional>

namespace parvello {

class Prompts;
class Trap;

// What happened to one file.
enum class FileOutcome {
    Written,    // the output now holds the result
    Unchanged,  // the output already held exactly the result and was not touched
    NotText,    // left untouched: the bytes are not text in the encoding they claim
    CannotHold, // left untouched: the output's encoding cannot hold the replacement text
    NotRead,    // left untouched: the file could not be read (the failure was reported)
    NotWritten, // left untouched: the output could not be written (the failure was reported)
    NotAFile,   // left untouched, not even opened: a pipe, socket or device
    Changed,    // left untouched: it changed while it was being processed (reported as a
                // failure to write)
    InUse,      // left untouched: another program had it open to write when it was read (one
                // that opens it later makes it Changed, with that reason)
};

struct FileReport {
    FileOutcome outcome = FileOutcome::Written;
    // For every outcome except Written and Unchanged: why the file was left untouched, as
    // one clause for a summary ("it holds a NUL byte, so it is not a text file").
    QString reason;

    bool succeeded() const {
        return outcome == FileOutcome::Written || outcome == FileOutcome::Unchanged;
    }
};

// Processes one file. The source is read whole before anything is written to outputPath
// (which may be the source itself). Lines end with CR LF in the output, the last one too.
// Only a regular file is read; a pipe, socket or device is left as it is (NotAFile).
// When outputPath is the source's own name (in place), the result goes to the very file
// that was read, where the system found it when it opened it (so a link stays a link), and
// only if that file is still there unchanged right before it is replaced (else Changed).
// Any other output path is itself replaced: a link there is replaced, never followed.
// A file with the UTF-8 mark is written by WriteFileToStringUTF; every other file on the
// text-stream route (WritePiecesFSO), in the encoding family the reader found. Failures are
// reported through prompts by the reading and writing routines, with their location tags
// and lines; nothing is thrown for them.
// With steps, the window's run passes its own trap: the engine marks there each numbered
// step of the run that it carries out (the per-line steps and the UTF-8 route's steps), and
// a failure in one of them leaves the output untouched and is thrown back to the caller, to
// be reported at that step's line.
// With afterBlock, the engine hands control back after each block it has read (about
// ReadBlockSize() bytes), with the bytes read so far: the window answers and shows the
// progress of a large file meanwhile. It must not throw.
FileReport ProcessFile(const QString& sourcePath, const QString& outputPath,
                       const QuoteReplacer& rule, Prompts& prompts, Trap* steps = nullptr,
                       const std::function<void(qint64 bytesRead)>& afterBlock = {});

} // namespace parvello
