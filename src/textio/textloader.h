// Loading a whole file into one decoded text, as the two readers need it.
#pragma once

#include "textio/linearray.h"

#include <QString>

#include <vector>

namespace parvello {

struct LoadedText {
    QString text;
    SourceFormat format = SourceFormat::CodePage;
    QString notText; // non-empty when the bytes are not text in their encoding
};

// What the reader was asked for.
enum class LoadAs {
    Utf8WithMark, // the UTF-8 road: the mark is dropped, the rest must be valid UTF-8
    Unicode,      // decoded by the UTF-16 or UTF-32 mark it begins with
    Ansi,         // no mark: UTF-8 when valid and not pure ASCII, else the ANSI code page
};

// Reads the file whole and decodes it. Fails (Failure) when the file cannot be opened or
// read; bytes that are not text are not a failure but are named in LoadedText::notText.
LoadedText LoadText(const QString& path, LoadAs how);

// The size of one read; a multi-byte sequence may straddle two reads.
inline constexpr qsizetype LoadChunkSize = 1 << 20;

// Hands a decoded text that is no longer needed back for the next LoadText on this thread,
// so that a run over many large files reuses one buffer instead of faulting in a fresh one
// for each. Only a large text that nothing else shares is kept.
void RecycleText(QString&& text);

// The same for the line table of a file: the next reader on this thread fills it again
// (TakeSpareSpans gives it back empty, keeping its room).
void RecycleSpans(std::vector<LineSpan>&& spans);
std::vector<LineSpan> TakeSpareSpans();

} // namespace parvello
