// "Add All File(s) In Folder": asks for an extension and a folder, then adds every
// matching file of the folder and of all its subfolders.
#include "app/form1.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "filelist/addfolder.h"
#include "filelist/filelistmodel.h"
#include "filelist/folderaccess.h"
#include "filelist/foldertree.h"

namespace parvello {

namespace {

const QString ExtensionPrompt =
    QStringLiteral("Enter file extension to load:\r\r(* for all files, txt for all txt files, "
                   "doc for all doc files, etc.)");
const QString FolderPrompt = QStringLiteral("Please select folder:");

} // namespace

FolderAccess& Form1::folderAccess() {
    if (!folders_)
        folders_ = LocalFolderAccess(platform_);
    return *folders_;
}

void Form1::addFilesInFolder() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton3_Click")));
    // The list stays as it is while a batch run works through it.
    if (IsRunning())
        return;
    FolderAccess& folders = folderAccess();
    QString answer;
    trap.step(AddAllLines::AskExtension, [&] {
        answer = prompts_.inputBox(ExtensionPrompt, QString(),
                                   store_.get(QStringLiteral("Extension"), "*"));
        if (!answer.isEmpty())
            store_.save(QStringLiteral("Extension"), answer);
    });
    bool end = false;
    trap.step(AddAllLines::NoExtensionTest, [&] { end = answer.isEmpty(); });
    if (end)
        return;
    QString chosen;
    trap.step(AddAllLines::BrowseFolder, [&] {
        chosen =
            BrowseForFolder(prompts_, FolderPrompt, store_.get(QStringLiteral("LastFolder"), ""));
    });
    trap.step(AddAllLines::NoFolderTest, [&] { end = chosen.isEmpty(); });
    if (end)
        return;
    QString lastFolder;
    trap.step(AddAllLines::LastFolder, [&] { lastFolder = chosen; });
    trap.step(AddAllLines::SaveLastFolder,
              [&] { store_.save(QStringLiteral("LastFolder"), lastFolder); });
    trap.step(AddAllLines::Hourglass, [&] { SetMousePointer(PointerHourglass); });
    ScanServices services{prompts_, folders, [this] { DoEvents(); },
                          [this] { return IsUnloading(); }};
    AddFilesInFolderTree(services, trap, chosen, answer,
                         [this](const QString& path) { listedFiles->Add(path); });
    // Closed during the scan: the program ends, and no row is added now.
    if (IsUnloading())
        return;
    const QStringList& unrepresentable = services.unrepresentable;
    trap.step(AddAllLines::DefaultPointer, [&] { SetMousePointer(PointerDefault); });
    // Names the program cannot hold exactly are reported, never opened by another name.
    if (!unrepresentable.isEmpty())
        trap.step(AddAllLines::ReportNames,
                  [&] { prompts_.message(UnrepresentableNamesMessage(unrepresentable)); });
    // Folders and links the scan left out are named, never dropped silently.
    if (!services.skipped.isEmpty())
        trap.step(AddAllLines::ReportSkipped,
                  [&] { prompts_.message(ScanSkipsMessage(services.skipped)); });
}

} // namespace parvello
