#include "filelist/foldertree.h"

#include "base/failure.h"
#include "filelist/folderaccess.h"

namespace parvello {

void AddFilesInFolderTree(ScanServices& services, Trap& trap, const QString& chosen,
                          const QString& extension,
                          const std::function<void(const QString&)>& add) {
    FolderAccess& folders = services.folders;
    const QChar separator = Separator(folders.style());
    QStringList folderList;
    trap.step(AddAllLines::StartFolderList, [&] { folderList = QStringList{chosen + separator}; });
    trap.step(AddAllLines::ScanSubfolders, [&] { ListSubfolders(services, folderList, true); });
    if (services.stopped())
        return;
    QString entry;
    QStringList names;
    QString path;
    for (const QString& listed : std::as_const(folderList)) {
        trap.step(AddAllLines::NextFolder, [&] { entry = listed; });
        trap.step(AddAllLines::DropSeparator, [&] { entry.chop(1); });
        trap.step(AddAllLines::ListFiles, [&] {
            names = ListFilesInFolder(folders, entry, QStringLiteral("*.") + extension,
                                      &services.unrepresentable);
        });
        for (qsizetype i = 1; i < names.size(); ++i) {
            const QString& name = names[i];
            if (trap.test(AddAllLines::TildeTest,
                          [&] { return !name.startsWith(QLatin1Char('~')); })) {
                trap.step(AddAllLines::FilePath, [&] { path = entry + separator + name; });
                trap.step(AddAllLines::AddFile, [&] {
                    if (TakeFoundFile(services, path))
                        add(CollapseBackslashes(path, folders.style()));
                });
            }
        }
    }
}

} // namespace parvello
