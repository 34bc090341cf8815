// "...": the folder-browse dialog picks the folder that results go into.
#include "app/form1.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/prompts.h"
#include "filelist/addfolder.h"

#include <QLineEdit>

namespace parvello {

// The lines of "Browse" for the output folder (browseOutputFolder): the numbers users see in the
// "Application Error" box ("in ...PushButton4_Click at line N") when a step fails. Keep each
// number.
struct BrowseLines {
    enum : int {
        BrowseFolder = 100,
        CancelledTest = 102,
        SeparatorTest = 104,
        WithSeparator = 106,
        AsChosen = 108,
    };
};

void Form1::browseOutputFolder() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton4_Click")));
    QString lastFolderDot;
    QString folder;
    trap.step(BrowseLines::BrowseFolder, [&] {
        lastFolderDot = store_.get(QStringLiteral("LastFolderDot"), QString());
        folder = BrowseForFolder(prompts_, QStringLiteral("Please select folder:"), lastFolderDot);
    });
    bool cancelled = false;
    trap.step(BrowseLines::CancelledTest, [&] { cancelled = folder.isEmpty(); });
    if (cancelled)
        return;
    const bool needsSeparator = trap.test(BrowseLines::SeparatorTest, [&] {
        lastFolderDot = folder;
        store_.save(QStringLiteral("LastFolderDot"), lastFolderDot);
        return !folder.endsWith(Separator());
    });
    if (needsSeparator)
        trap.step(BrowseLines::WithSeparator,
                  [&] { setText(outputFolderBox, folder + Separator()); });
    else // a drive root already ends with its separator
        trap.step(BrowseLines::AsChosen, [&] { setText(outputFolderBox, folder); });
}

} // namespace parvello
