// The folder scan: the subfolders of the chosen folders in level order, the files of one
// folder, and the tests a found file passes before it is listed. Plain C++: paths are the
// system's own, so a name is listed and taken exactly as it is; what the scan leaves out
// and the failures of its numbered steps come back as values.
#pragma once

#include "filelist/folderaccess.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

namespace parvello {

// The attribute value (hidden + archive and nothing else) of files that folder scans and
// folder drops leave out; compared with the whole value.
inline constexpr int HiddenArchiveFile = 34;

// The location tag of ListSubfolders's numbered steps, as the "Application Error" box and
// parvello-cli's error lines name it. Users quote it: it keeps the scan's earlier name.
inline constexpr char ListSubfoldersLocation[] =
    "Dorrimane2021/08/31.AddFolder.GetSubDirectories2016";

// The numbered steps of ListSubfolders: the numbers users see in the "Application Error"
// box ("in ...GetSubDirectories2016 at line N") when a step fails. Keep each number.
struct ScanLines {
    enum : int {
        NoService = 100,
        ClearFound = 104,
        IsFolderTest = 108,
        LengthTest = 110,
        HandleEvents = 114,
        MayDescendTest = 116,
        Recurse = 150,
        FoundIsFolderTest = 154,
        HandleEventsAgain = 156,
        FoundMayDescendTest = 158,
        AddFolder = 160,
    };
};

// A folder or link the scan left out, with why (in UTF-8), for the caller to name.
struct ScanLeftOut {
    std::filesystem::path path; // folders end with a separator
    std::string reason;
};

// A numbered step of the scan that failed: the scan went on with the next step.
struct ScanFailure {
    int line = 0;
    std::exception_ptr failure;
};

// A question about one name (a file or folder name, without its folder).
using NameTest = std::function<bool(const std::filesystem::path&)>;

// What one scan keeps across its levels: the chosen folders (the entries of the first
// ListSubfolders call) and what was taken.
struct ScanRecord {
    bool started = false;
    std::vector<std::filesystem::path> chosen; // the chosen folders' real locations
    std::unordered_set<std::string> folders;   // identities of the folders entered or to be
    std::unordered_set<std::string> files;     // identities of the files taken
};

// One scan: the file system, a way to let the caller handle pending events (after each
// pause the scan asks `stopped` and, if so, ends at once), and what the scan reports.
// Folders whose names `holdsName` refuses (the caller cannot hold them exactly) are not
// entered; their paths go to `unrepresentable`. Folders that cannot be read, folders beyond
// the path limit and links that lead out of the chosen folder go to `skipped`. A failure of a
// numbered step goes to `failures` (and to `failed` at once, when set); `entering` runs as
// each step starts and `leaving` as its body ends, both inside the step, so what they throw
// fails it.
struct FolderScan {
    FolderAccess& folders;
    std::function<void()> doEvents = [] {};
    std::function<bool()> stopped = [] { return false; };
    NameTest holdsName = {};
    std::function<void(int line)> entering = {};
    std::function<void()> leaving = {};
    std::function<void(const ScanFailure&)> failed = {};
    std::vector<std::filesystem::path> unrepresentable = {};
    std::vector<ScanLeftOut> skipped = {};
    std::vector<ScanFailure> failures = {};
    ScanRecord record = {};
};

// Appends to folderList every qualifying folder below its entries, in level order: each
// entry ends with one separator, a subfolder is its parent's entry, its name and a
// separator. Folders whose attribute value is exactly 22 or 1046 (hidden system folders)
// are neither reported nor descended into unless they are a root; entries of 260
// characters (UTF-16 units) or more are not descended into (their subfolders are named in
// scan.skipped) and subfolder names of 260 characters or more are skipped and named. No
// folder is skipped for the characters of its name.
// An entry whose subfolders cannot be listed (permission denied, path not found) is
// removed from the list and named. A link whose real target lies outside the chosen
// folders is not followed and is named; no folder is entered twice (folders are told
// apart by identity, not by path), so each folder stands once in the list, under the
// first path the level order reaches it by, and the scan ends quickly on any shape of
// links. Subfolders come in name order. Failures elsewhere fail their numbered step (see
// FolderScan) and never reach the caller. With recurse false only the entries' own
// subfolders are examined.
void ListSubfolders(FolderScan& scan, std::vector<std::filesystem::path>& folderList, bool recurse);

// Whether a file found by a folder scan or a folder drop goes into the list: it
// qualifies (QualifiesForList), it is not a link whose real target lies outside the
// chosen folder (such a link is added to scan.skipped), and the file it leads to was
// not taken before in this scan. A taken file is remembered. Fails as
// FolderAccess::attributes does.
bool TakeFoundFile(FolderScan& scan, const std::filesystem::path& path);

// The names (no folder) of the files directly in `folder` that `matches` accepts and that
// IsExistingFile accepts, hidden files included, in name order. The folder may end with a
// separator or not. Throws ListingError (naming the folder with its separator) when the
// folder cannot be listed. Matching names that `holdsName` refuses are left out and, when
// `unrepresentable` is given, added to it with their folder.
std::vector<std::filesystem::path>
ListFilesInFolder(FolderAccess& folders, const std::filesystem::path& folder,
                  const NameTest& matches, const NameTest& holdsName = {},
                  std::vector<std::filesystem::path>* unrepresentable = nullptr);

// True when the path names an existing regular file; a folder, a missing path or any
// failure gives false. Never fails.
bool IsExistingFile(FolderAccess& folders, const std::filesystem::path& path);

// Whether a file found by a folder scan or a folder drop goes into the list: it exists as a
// regular file and its attribute value is not exactly HiddenArchiveFile. (The "~" rule is
// the caller's own numbered test.)
bool QualifiesForList(FolderAccess& folders, const std::filesystem::path& path);

} // namespace parvello
