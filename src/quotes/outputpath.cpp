#include "quotes/outputpath.h"

namespace parvello {

QString OutputPathFor(const QString& sourcePath, SaveChoice choice, const QString& folderText,
                      PathStyle style, PathLength length) {
    const QChar separator = Separator(style);
    if (choice == SaveChoice::BesideOriginal) // the source's own path
        return CollapseBackslashes(
            FolderOfPath(sourcePath, style) + separator + FileNameOfPath(sourcePath, style), style);
    const QString name = length == PathLength::AnyLength ? NameAfterLastSlash(sourcePath, style)
                                                         : FileNameOfPath(sourcePath, style);
    const QString path = folderText + separator + name;
    return CollapseBackslashes(path, style);
}

} // namespace parvello
