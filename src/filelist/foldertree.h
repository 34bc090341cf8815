// The files of a folder tree that "Add All File(s) In Folder" adds to the list, shared by
// the window and by parvello-cli --recursive, so both find the same files in the same order.
// Plain C++: paths are the system's own; the failures of the numbered steps come back as
// values, as the folder scan's do.
#pragma once

#include "filelist/folderscan.h"

#include <filesystem>
#include <functional>
#include <string_view>
#include <vector>

namespace parvello {

// The lines of "Add All File(s) In Folder" (addFilesInFolder): the numbers users see in the
// "Application Error" box ("in ...PushButton3_Click at line N") when a step fails. Keep
// each number. Lines 118 to 136 run inside AddFilesInFolderTree.
struct AddAllLines {
    enum : int {
        AskExtension = 100,
        NoExtensionTest = 102,
        BrowseFolder = 104,
        NoFolderTest = 106,
        LastFolder = 108,
        SaveLastFolder = 110,
        Hourglass = 116,
        StartFolderList = 118,
        ScanSubfolders = 120,
        NextFolder = 122,
        DropSeparator = 124,
        ListFiles = 126,
        TildeTest = 130,
        FilePath = 132,
        AddFile = 136,
        DefaultPointer = 140,
        ReportNames = 142,
        ReportSkipped = 144,
    };
};

// One walk of a folder tree over one scan. The tree's own numbered steps (AddAllLines 118
// to 136) run through its hooks as the scan's steps run through the scan's: `entering` as
// a step starts, `leaving` as its body ends (both inside the step, so what they throw fails
// it); a failed step goes to `failures` (and to `failed` at once, when set) and the walk
// goes on with the next step; a failed condition test counts as true. Step 120 lists the
// subfolders through `listSubfolders` when set (the caller's own way of running the scan),
// else through ListSubfolders with the scan's hooks as they are.
struct FolderTree {
    FolderScan& scan;
    std::function<void(int line)> entering = {};
    std::function<void()> leaving = {};
    std::function<void(const ScanFailure&)> failed = {};
    std::function<void(std::vector<std::filesystem::path>& folderList)> listSubfolders = {};
    std::vector<ScanFailure> failures = {};
};

// Hands to `add`, in the order the window adds them, the files below `chosen` (a folder as
// the browse dialog gives it: a root keeps its trailing separator, other folders have
// none) whose names match "*." + extension (MatchesWildcard): the folder itself and every
// subfolder that ListSubfolders finds, each folder's files in name order, leaving out names
// that begin with "~" and files whose attribute value is exactly HiddenArchiveFile, each
// file once (TakeFoundFile), each path with its separators collapsed as the list shows
// paths (CollapseBackslashes). Matching names the scan's `holdsName` refuses go to
// scan.unrepresentable; what the scan leaves out otherwise, to scan.skipped. `add` runs
// inside step 136. Ends at once, adding nothing more, when scan.stopped() becomes true.
void AddFilesInFolderTree(FolderTree& tree, const std::filesystem::path& chosen,
                          std::u16string_view extension,
                          const std::function<void(const std::filesystem::path&)>& add);

} // namespace parvello
