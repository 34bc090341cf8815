// The window's line readers: a whole file read into its lines, by the routines whose steps
// the "Application Error" box names (see fileboxes.h for their tags and lines). Each step
// that fails shows its box, and the next step runs, as the routine always has.
#pragma once

#include "textio/linearray.h"

#include <QString>
#include <QStringList>

namespace parvello {

class Prompts;

// Reads the file as lines. Examines the mark, then takes the UTF-8 road for a file with the
// UTF-8 mark and the text-stream road for every other file. Never fails: failures are
// reported through the prompts' "Application Error" box with this routine's location tag
// (or the road's) and the step's line, and the result then has status NotRead and one empty
// line; a file whose bytes are not text has status NotText. With LineForm::Bytes the lines
// may stay undecoded (see LineArray).
LineArray ReadFileLines(const QString& path, Prompts& prompts, LineForm form = LineForm::Text);

// The text-stream road: UTF-16/UTF-32 by its mark when fileIsUnicode, else the ANSI format
// (mark-less UTF-8 when the bytes are valid UTF-8 with a non-ASCII sequence, otherwise the
// ANSI code page). A line ends at CR LF, at a lone LF or at a lone CR; a final line break
// gives no extra empty line.
LineArray ReadTextStreamLines(const QString& path, bool fileIsUnicode, Prompts& prompts,
                              LineForm form = LineForm::Text);

// The UTF-8 road: the mark is dropped and the text split at CR LF only.
LineArray ReadUtf8Lines(const QString& path, Prompts& prompts, LineForm form = LineForm::Text);

// Every line of lines, decoded, as the window holds texts.
QStringList LinesToStringList(const LineArray& lines);

} // namespace parvello
