// Choosing a folder and scanning it, on the window's side: the folder-browse dialog, and
// the folder scan (filelist/folderscan.h) for the names the window holds as text, with
// its failures shown in the "Application Error" box.
#pragma once

#include "base/pathhelpers.h"
#include "filelist/folderscan.h"
#include "filelist/foldertree.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace parvello {

class Platform;
class Prompts;
class Trap;

// The location tag of the folder scan's failure trap (ListSubfolders). Users quote it from
// the "Application Error" box: it keeps the scan's earlier name.
inline const QString ListSubfoldersTag = QString::fromLatin1(ListSubfoldersLocation);

// The folder the browse dialog shows selected when it opens, kept with one NUL appended
// until the next BrowseForFolder call.
extern QString BrowseStartFolder;

// The notice the browse dialog sends once it is ready.
inline constexpr int BFFM_INITIALIZED = 1;

// The browse dialog's notification callback: on BFFM_INITIALIZED it names the folder to
// select (BrowseStartFolder without its NUL; an empty one leaves the dialog's own
// choice). Returns 0 for every notice and never fails.
int BrowseCallback(int message, QString& selection);

// Shows the folder-browse dialog with startFolder preselected. Returns the chosen
// folder (a root keeps its trailing separator, other folders have none) or "" on Cancel.
QString BrowseForFolder(Prompts& prompts, const QString& prompt, const QString& startFolder);

// A folder or link the scan left out, with why, for the caller to name.
struct ScanSkip {
    QString path; // folders end with a separator
    QString reason;
};

// The window's side of one folder scan (FolderScan): the box for its failures, the file
// system, and a way to let the window handle pending events. After each pause the scan
// asks `stopped` (the window is closing) and, if so, ends at once. Folders whose names
// cannot be held exactly as text are not entered; their escaped paths are added to
// `unrepresentable` for the caller to report. Folders that cannot be read, folders beyond
// the path limit and links that lead out of the chosen folder are added to `skipped` (with
// CollapseBackslashes applied). One ScanServices serves one scan: the engine's record keeps,
// across its levels, the chosen folders and what was taken.
struct ScanServices {
    ScanServices(
        Prompts& prompts, FolderAccess& folders, std::function<void()> doEvents,
        std::function<bool()> stopped = [] { return false; });

    Prompts& prompts;
    FolderAccess& folders;
    FolderScan scan;
    QStringList unrepresentable = {};
    QList<ScanSkip> skipped = {};

    bool stopped() const { return scan.stopped(); }
};

// The box text that names what a scan left out, one "path: reason" a line; "" when
// nothing was.
QString ScanSkipsMessage(const QList<ScanSkip>& skipped);

// TakeFoundFile of the engine, for a path the window holds.
bool TakeFoundFile(ScanServices& services, const QString& path);

// ListSubfolders of the engine, for the folders the window holds. A failure of one of its
// numbered steps shows the "Application Error" box with ListSubfoldersTag and that line,
// at once, and the scan goes on; a fault a test injects at ListSubfoldersTag fails the step
// it names.
void ListSubfolders(ScanServices& services, QStringList& folderList, bool recurse);

// AddFilesInFolderTree of the engine, for the folder and extension the window holds as
// text: hands `add` each found file's path as text. The tree's numbered steps (lines 118 to
// 136 of the window's handler) run through the caller's trap: a fault injected there fails
// the step, and a failed step shows the "Application Error" box with the trap's tag and
// that line, at once; the scan of step 120 runs as ListSubfolders does. Names that cannot be
// held exactly go to services.unrepresentable; what the scan leaves out otherwise, to
// services.skipped. `add` runs inside step 136. Ends at once, adding nothing more, when
// services.stopped() becomes true.
void AddFilesInFolderTree(ScanServices& services, Trap& trap, const QString& chosen,
                          const QString& extension, const std::function<void(const QString&)>& add);

// The names (no folder) of the files directly in `folder` whose names match the pattern
// (MatchesWildcard) and that IsExistingFile accepts, hidden files included, in name order.
// Element 0 is always an empty text and the names stand at 1..n, so a loop from 1 to
// size() - 1 visits exactly the matches and runs no turn when nothing matched. The folder
// may end with a separator or not. Fails (Failure: permission denied, path not found, or
// the system's words) when the folder cannot be listed. Matching names that cannot be held
// exactly are left out and, when `unrepresentable` is given, added to it as escaped paths.
QStringList ListFilesInFolder(FolderAccess& folders, const QString& folder, const QString& pattern,
                              QStringList* unrepresentable = nullptr);

// True when the path names an existing regular file; a folder, a missing path or any
// failure gives false. Never fails.
bool IsExistingFile(FolderAccess& folders, const QString& path);

// Wildcard match of a file name, as ListFilesInFolder applies it.
bool MatchesWildcard(QStringView name, QStringView pattern);

// A path that came in as text (from a dialog) may stand for a name whose bytes the
// program cannot hold: such names are shown with U+FFFD in place of their odd bytes, and
// opening the text would open another file, or none. Returns, escaped, the names in the
// path's folder that read as the path's name but are not it; empty when there are none
// (always for a name without U+FFFD).
QStringList UnrepresentableTwins(const QString& path);

// The real file system as the window sees it: attributes come through the platform seam.
std::shared_ptr<FolderAccess> LocalFolderAccess(Platform& platform);

} // namespace parvello
