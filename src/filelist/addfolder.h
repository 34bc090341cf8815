// Choosing a folder and scanning it: the folder-browse dialog, the recursive scan of
// subfolders in level order, the file lister and the two tests the callers apply.
#pragma once

#include "base/pathhelpers.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

namespace parvello {

class FolderAccess;
class Platform;
class Prompts;

// The location tag of the folder scan's failure trap (ListSubfolders). Users quote it from
// the "Application Error" box: it keeps the scan's earlier name.
inline const QString ListSubfoldersTag =
    QStringLiteral("Dorrimane2021/08/31.AddFolder.GetSubDirectories2016");

// The attribute value (hidden + archive and nothing else) of files that folder scans and
// folder drops leave out; compared with the whole value.
inline constexpr int HiddenArchiveFile = 34;

// Whether a file found by a folder scan or a folder drop goes into the list: it exists as a
// regular file and its attribute value is not exactly HiddenArchiveFile. (The "~" rule is
// the caller's own numbered test.)
bool QualifiesForList(FolderAccess& folders, const QString& path);

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

// What the scan needs besides the folder list: the box for its failures, the file
// system, and a way to let the window handle pending events. After each pause the scan
// asks `stopped` (the window is closing) and, if so, ends at once. Folders whose names
// cannot be held exactly are not entered; their escaped paths are added to
// `unrepresentable` for the caller to report. Folders that cannot be read, folders beyond
// the path limit and links that lead out of the chosen folder are added to `skipped`.
// One ScanServices serves one scan: `record` keeps, across its levels, the chosen
// folders (the entries of the first ListSubfolders call) and what was taken.
struct ScanServices {
    Prompts& prompts;
    FolderAccess& folders;
    std::function<void()> doEvents;
    std::function<bool()> stopped = [] { return false; };
    QStringList unrepresentable = {};
    QList<ScanSkip> skipped = {};
    struct Record {
        bool started = false;
        QStringList chosen;    // the chosen folders' real locations
        QSet<QString> folders; // identities of the folders entered or to be entered
        QSet<QString> files;   // identities of the files taken
    } record = {};
};

// The box text that names what a scan left out, one "path: reason" a line; "" when
// nothing was.
QString ScanSkipsMessage(const QList<ScanSkip>& skipped);

// Whether a file found by a folder scan or a folder drop goes into the list: it
// qualifies (QualifiesForList), it is not a link whose real target lies outside the
// chosen folder (such a link is added to services.skipped), and the file it leads to was
// not taken before in this scan. A taken file is remembered. Fails as
// FolderAccess::attributes does.
bool TakeFoundFile(ScanServices& services, const QString& path);

// Appends to folderList every qualifying folder below its entries, in level order: each
// entry ends with one separator, a subfolder is its parent's entry, its name and a
// separator. Folders whose attribute value is exactly 22 or 1046 (hidden system folders)
// are neither reported nor descended into unless they are a root; entries of 260
// characters or more are not descended into (their subfolders are named in
// services.skipped) and subfolder names of 260 characters or more are skipped and named.
// No folder is skipped for the characters of its name.
// An entry whose subfolders cannot be listed (permission denied, path not found) is
// removed from the list and named. A link whose real target lies outside the chosen
// folders is not followed and is named; no folder is entered twice (folders are told
// apart by identity, not by path), so each folder stands once in the list, under the
// first path the level order reaches it by, and the scan ends quickly on any shape of
// links. Subfolders come in name order. Failures elsewhere show the "Application Error" box with
// ListSubfoldersTag and never reach the caller. With recurse false only the
// entries' own subfolders are examined.
void ListSubfolders(ScanServices& services, QStringList& folderList, bool recurse);

// The names (no folder) of the files directly in `folder` whose names match the pattern
// (`*` any run, `?` one character, letter case ignored; a trailing ".*" also matches
// names without an extension, so "*.*" matches every name) and that IsExistingFile
// accepts, hidden files included, in name order. Element 0 is always an empty text and
// the names stand at 1..n, so a loop from 1 to size() - 1 visits exactly the matches and
// runs no turn when nothing matched. The folder may end with a separator or not. Fails
// when the folder cannot be listed. Matching names that cannot be held exactly are left
// out and, when `unrepresentable` is given, added to it as escaped paths.
QStringList ListFilesInFolder(FolderAccess& folders, const QString& folder, const QString& pattern,
                              QStringList* unrepresentable = nullptr);

// True when the path names an existing regular file; a folder, a missing path or any
// failure gives false. Never fails.
bool IsExistingFile(FolderAccess& folders, const QString& path);

// Wildcard match of a file name, as ListFilesInFolder applies it.
bool MatchesWildcard(QStringView name, QStringView pattern);

} // namespace parvello
