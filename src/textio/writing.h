// Writing the result of one file in the encoding family of its input.
#pragma once

#include "textio/outputfile.h"
#include "textio/textencoder.h"

#include <QString>
#include <QStringView>

#include <functional>

namespace parvello {

class Prompts;

// What became of one output file.
enum class WriteResult {
    Written,    // the file now holds the text
    Unchanged,  // it already held exactly these bytes and was left alone
    CannotHold, // the encoding cannot hold some character: the file was left untouched
    Failed,     // a failure was reported; the file was left untouched
    Changed,    // the same, for a target that changed while it was being processed
    InUse,      // the same, for a target that another program opened to write meanwhile
};

// Receives the text of one output file piece by piece. append() returns false when the
// output's encoding cannot hold the piece; the producer then stops.
class PieceSink {
public:
    virtual bool append(QStringView piece) = 0;
    // Bytes already in the output's encoding, taken as they are.
    virtual bool appendBytes(QByteArrayView bytes) = 0;
    // Drops every piece taken so far: the text starts again, in another encoding.
    virtual void restart(OutputEncoding encoding) = 0;

protected:
    ~PieceSink() = default;
};

// Produces the text of one output file as consecutive pieces, so that a large file is not
// held a second time as one joined text. Returns false when it stopped early because the
// sink refused a piece.
using TextPieces = std::function<bool(PieceSink& sink)>;

// Writes text as UTF-8 after the mark EF BB BF, creating or replacing the file. Nothing of
// the text is stripped, translated or added. Failures are reported with the location
// tag of WriteFileToStringUTF: a file that cannot be created or replaced at line 108
// (SaveToFile), once. `where` says which file the path stands for (see OutputTarget).
WriteResult WriteFileToStringUTF(const QString& path, QStringView text, Prompts& prompts);
WriteResult WriteFileToStringUTF(const QString& path, const TextPieces& text, Prompts& prompts,
                                 const OutputTarget& where = {});

// Writes one piece of text in the given encoding. A piece number of 1 or less creates the
// file or replaces it (a UTF-16 output begins with FF FE); a higher one appends, creating
// the file when it is missing (with the mark, as it is new). Failures are reported with
// the location tag of AppendStringFSO and the line of the open (106 appending, 108
// replacing), the write (116) or the close (124), once per call.
WriteResult AppendStringFSO(QStringView text, const QString& path, int pieceNumber,
                            OutputEncoding encoding, Prompts& prompts);

// The whole output of one file on the text-stream route, written with one open: exactly
// the bytes that AppendStringFSO would leave after one call per piece with piece numbers
// 1, 2, 3 ..., but replaced atomically, and a failure is reported once for the file, not
// once per piece (same location tag and lines as AppendStringFSO; a read-only target that
// would change is reported at the line of the open, 108, as a refused open).
WriteResult WritePiecesFSO(const QString& path, OutputEncoding encoding, const TextPieces& text,
                           Prompts& prompts, const OutputTarget& where = {});

} // namespace parvello
