// "...": the folder-browse dialog picks the folder that results go into.
#include "app/form1.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/prompts.h"
#include "filelist/addfolder.h"

#include <QLineEdit>

namespace parvello {

void Form1::PushButton4_Click() {
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton4_Click")));
    QString lastFolderDot;
    QString folder;
    trap.step(100, [&] {
        lastFolderDot = store_.get(QStringLiteral("LastFolderDot"), QString());
        folder = BrowseForFolder(prompts_, QStringLiteral("Please select folder:"), lastFolderDot);
    });
    bool cancelled = false;
    trap.step(102, [&] { cancelled = folder.isEmpty(); });
    if (cancelled)
        return;
    const bool needsSeparator = trap.test(104, [&] {
        lastFolderDot = folder;
        store_.save(QStringLiteral("LastFolderDot"), lastFolderDot);
        return !folder.endsWith(Separator());
    });
    if (needsSeparator)
        trap.step(106, [&] { setText(Text1, folder + Separator()); });
    else // a drive root already ends with its separator
        trap.step(108, [&] { setText(Text1, folder); });
}

} // namespace parvello
