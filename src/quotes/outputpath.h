// Where a run writes the result of one source file.
#pragma once

#include "base/pathhelpers.h"

#include <QString>

namespace parvello {

// The choice of the "Save Option" frame.
enum class SaveChoice {
    ToFolder,       // "Save results to this folder:" (Option8)
    BesideOriginal, // "Save results in folder of original file" (Option7)
    Neither,        // no button selected (only through stored values): treated as ToFolder
};

// How long a source path may be: the window takes a file's name apart with a 16-bit
// position, so a path longer than 32767 characters fails with an overflow there, as it always
// has; the command line takes any length, and leaves such a file to the engine.
enum class PathLength { WindowLimit, AnyLength };

// The output path of a source file: the folder box's text, a separator and the file's name;
// or the source's own folder and name again (so the source itself). Doubled separators from
// the join are collapsed, keeping the leading pair of a network path in the Windows style.
QString OutputPathFor(const QString& sourcePath, SaveChoice choice, const QString& folderText,
                      PathStyle style = NativePathStyle(),
                      PathLength length = PathLength::WindowLimit);

} // namespace parvello
