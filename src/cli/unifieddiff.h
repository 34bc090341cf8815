// The unified diff that parvello-cli --diff prints for a file whose result would differ
// from what it holds.
#pragma once

#include <QByteArray>
#include <QString>

namespace parvello {

// A unified diff, in UTF-8, of two texts split into lines at LF, with `context` unchanged
// lines around each change, under the headers "--- oldLabel" and "+++ newLabel". Empty when
// the texts are equal. On removed and added lines every CR is shown as U+240D (the symbol
// for carriage return), so a change of line ends alone is visible; unchanged context lines
// are shown without it. A last line without an LF is followed by
// "\ No newline at end of file".
// When both texts have as many lines, line n of one is compared with line n of the other
// (the quote rules never join or split lines); otherwise the common first and last lines
// are kept and everything between them is shown as one change.
QByteArray UnifiedDiff(const QString& oldLabel, const QString& newLabel, const QString& oldText,
                       const QString& newText, int context = 3);

} // namespace parvello
