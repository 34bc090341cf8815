// Loading a whole file into one decoded text, as the two readers need it.
#pragma once

#include "textio/linearray.h"
#include "textio/readonlyfile.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

namespace parvello {

struct LoadedText {
    QString text;
    // Instead of text, for LineForm::Bytes where the encoding allows it: the file's bytes,
    // checked to be text in format, whose text begins at bytesFrom (after a UTF-8 mark).
    bool inBytes = false;
    QByteArray bytes;
    qsizetype bytesFrom = 0;
    SourceFormat format = SourceFormat::CodePage;
    QString notText; // non-empty when the bytes are not text in their encoding
};

// What the reader was asked for.
enum class LoadAs {
    Utf8WithMark, // the UTF-8 road: the mark is dropped, the rest must be valid UTF-8
    Unicode,      // decoded by the UTF-16 or UTF-32 mark it begins with
    Ansi,         // no mark: UTF-8 when valid and not pure ASCII, else the ANSI code page
};

// While one of these lives on a thread, a file that the mark test opened is kept open with
// the bytes read from it (KeepOpenForLoad) and the next LoadText of the same path on this
// thread goes on with it, so that a file is opened once per read. The kept file is closed
// when the scope ends.
class KeepOpenScope {
public:
    KeepOpenScope();
    ~KeepOpenScope();
    KeepOpenScope(const KeepOpenScope&) = delete;
    KeepOpenScope& operator=(const KeepOpenScope&) = delete;
};

// Keeps file (open for reading, positioned after firstBytes) for the next LoadText of path,
// when a KeepOpenScope lives on this thread; otherwise the file is closed.
void KeepOpenForLoad(const QString& path, std::unique_ptr<ReadOnlyFile> file,
                     QByteArrayView firstBytes);

// The bytes of the file loaded last on this thread, when it was small: for an output that
// replaces that same file, to tell whether the result differs without reading it again.
struct LoadedFileBytes {
    bool known = false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = -1;
    long long modifiedSeconds = 0;
    long long modifiedNanoseconds = 0;
    QByteArray bytes;
};
const LoadedFileBytes& LastLoadedFileBytes();
// The file that the last LoadText on this thread read, as it was when it was opened (before
// its text was read), and where it really is as the system resolved the open file: an output
// that replaces the file read goes exactly there, and only while it is still that file.
struct ReadFileRecord {
    QString path;
    FileIdentity identity;
    QString realPath;
};
const ReadFileRecord& LastReadFile();
// Files up to this size keep their bytes for that comparison.
inline constexpr qsizetype KeepBytesUpTo = 64 * 1024;

// Reads the file whole and decodes it. Fails (Failure) when the file cannot be opened or
// read; bytes that are not text are not a failure but are named in LoadedText::notText.
// With LineForm::Bytes a file in UTF-8 or in an ASCII-compatible code page is checked but
// not decoded (LoadedText::inBytes).
LoadedText LoadText(const QString& path, LoadAs how, LineForm form = LineForm::Text);

// The size of one read; a multi-byte sequence may straddle two reads.
inline constexpr qsizetype LoadChunkSize = 1 << 18;

// Hands a decoded text that is no longer needed back for the next LoadText on this thread,
// so that a run over many large files reuses one buffer instead of faulting in a fresh one
// for each. Only a large text that nothing else shares is kept.
void RecycleText(QString&& text);
// The same for the bytes of a byte-form read.
void RecycleBytes(QByteArray&& bytes);

// The same for the line table of a file: the next reader on this thread fills it again
// (TakeSpareSpans gives it back empty, keeping its room).
void RecycleSpans(std::vector<LineSpan>&& spans);
std::vector<LineSpan> TakeSpareSpans();

} // namespace parvello
