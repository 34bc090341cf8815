// The files of a folder tree that "Add All File(s) In Folder" adds to the list, shared by
// the window and by parvello-cli --recursive, so both find the same files in the same order.
#pragma once

#include "filelist/addfolder.h"

#include <QString>

#include <functional>

namespace parvello {

class Trap;

// The lines of "Add All File(s) In Folder" (addFilesInFolder): the numbers users see in the
// "Application Error" box ("in ...PushButton3_Click at line N") when a step fails. Keep
// each number. Lines 118 to 136 run inside AddFilesInFolderTree, through the caller's trap.
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

// Hands to `add`, in the order the window adds them, the files below `chosen` (a folder as
// the browse dialog gives it: a root keeps its trailing separator, other folders have
// none) whose names match "*." + extension: the folder itself and every subfolder that
// ListSubfolders finds, each folder's files in name order, leaving out names that
// begin with "~" and files whose attribute value is exactly HiddenArchiveFile, each file
// once (TakeFoundFile). Names that cannot be held exactly are added to
// services.unrepresentable; what the scan leaves out otherwise, to services.skipped. Each numbered
// step runs through the caller's trap (lines 118 to 136 of the window's handler); `add` runs inside
// step 136. Ends at once, adding nothing more, when services.stopped() becomes true.
void AddFilesInFolderTree(ScanServices& services, Trap& trap, const QString& chosen,
                          const QString& extension, const std::function<void(const QString&)>& add);

} // namespace parvello
