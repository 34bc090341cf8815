#include "base/prompts.h"

#include "base/pathhelpers.h"

namespace parvello {

namespace {
QString applicationTitle = QStringLiteral("Parvello");
}

QString ApplicationTitle() {
    return applicationTitle;
}

void SetApplicationTitle(const QString& title) {
    applicationTitle = title;
}

QString OpenFileSelectionText(const QStringList& files, PathStyle style) {
    if (files.size() == 1)
        return files.first();
    const QChar separator = Separator(style);
    // The folders up to and including each file's last separator; the common part of all
    // of them, cut back to a separator, is the folder that holds every file.
    QString common;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString folder = FolderOfPath(files[i], style);
        if (i == 0) {
            common = folder;
            continue;
        }
        qsizetype same = 0;
        while (same < common.size() && same < folder.size() && common[same] == folder[same])
            ++same;
        common.truncate(same == 0 ? 0 : common.lastIndexOf(separator, same - 1) + 1);
    }
    QString selection = common;
    // The folder is written without its last separator, except for a root such as "/" or
    // "C:\", whose separator is part of its name; the join repairs the doubled one.
    const bool root = common.size() == 1 || (common.size() == 3 && common[1] == u':');
    if (common.endsWith(separator) && !root)
        selection.chop(1);
    for (const QString& file : files)
        selection += QChar(u'\0') + file.mid(common.size());
    return selection;
}

} // namespace parvello
