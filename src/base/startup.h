// Start-up routines of the main window that need no widgets.
#pragma once

#include "base/pathhelpers.h"

#include <QString>

namespace parvello {

class Platform;
class Prompts;

// The application title made from the product name: cut before the last space until the
// text is at most 40 characters, cutting at least once. A name without any space is its
// own title; a name that runs out of spaces while still too long keeps its first 40
// characters.
QString AppTitleFromName(const QString& productName);

// Sets the application title from the product name (AppTitleFromName).
void SetAppTitle(const QString& productName);

// True when the file system can tell the path's modification time (the path exists).
bool FileExists(const QString& path);

// The path of a special folder, or "" when the system has none. Id 0 is the user's
// desktop folder, the one special folder the program asks for.
inline constexpr int DesktopFolderId = 0;
QString GetSpecialFolderPath(Platform& platform, int folderId);

// The desktop folder with exactly one trailing separator. Fails when the system reports
// no desktop folder.
QString GetDesktopFolder(Platform& platform, PathStyle style = NativePathStyle());

// On about one start in a hundred (a draw of 7 out of 1..100), opens the maker's home
// page in the user's browser.
void OpenHomePageAtRandom(Platform& platform, Prompts& prompts);

// The program folder of an executable that lies in `executableFolder`: the folder that
// holds Samples/, the pointer files and the optional skin. That is the executable's own
// folder when it holds the examples or the hand pointer (the build tree, and installs that
// keep everything together, as on Windows); else the data folder installed with it,
// `dataFromExecutable` taken from the executable's folder (such as "../share/parvello"),
// when that folder exists; else the executable's own folder.
QString ProgramFolderFor(const QString& executableFolder, const QString& dataFromExecutable);

// The program folder joined with a literal such as "HAND-M.CUR" or "x/o.cjs", using the
// native separator.
QString ProgramFile(Platform& platform, const QString& relative);

} // namespace parvello
