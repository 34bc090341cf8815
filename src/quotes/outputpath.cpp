#include "quotes/outputpath.h"

namespace parvello {

QString OutputPathFor(const QString& sourcePath, SaveChoice choice, const QString& folderText,
                      PathStyle style) {
    const QChar separator = Separator(style);
    QString path;
    if (choice == SaveChoice::BesideOriginal)
        path = FolderOfPath(sourcePath, style) + separator + FileNameOfPath(sourcePath, style);
    else
        path = folderText + separator + FileNameOfPath(sourcePath, style);
    return CollapseBackslashes(path, style);
}

} // namespace parvello
