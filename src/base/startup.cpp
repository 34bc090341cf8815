#include "base/startup.h"

#include "base/addresses.h"
#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"

#include <QDir>
#include <QFileInfo>

namespace parvello {

QString AppTitleFromName(const QString& productName) {
    constexpr qsizetype MaxTitle = 40;
    if (!productName.contains(QLatin1Char(' ')))
        return productName.left(MaxTitle);
    QString title = productName;
    do {
        const qsizetype space = title.lastIndexOf(QLatin1Char(' '));
        if (space < 0)
            return title.left(MaxTitle);
        title.truncate(space);
    } while (title.size() > MaxTitle);
    return title;
}

void SetAppTitle(const QString& productName) {
    SetApplicationTitle(AppTitleFromName(productName));
}

QString GetSpecialFolderPath(Platform& platform, int folderId) {
    return folderId == DesktopFolderId ? platform.desktopFolder() : QString();
}

bool FileExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).lastModified().isValid();
}

QString GetDesktopFolder(Platform& platform, PathStyle style) {
    QString folder = GetSpecialFolderPath(platform, DesktopFolderId);
    if (folder.isEmpty())
        throw Failure(
            QStringLiteral("Invalid procedure call or argument: the desktop folder is unknown"),
            failure_numbers::InvalidArgument);
    const QChar separator = Separator(style);
    if (style == PathStyle::Posix)
        folder = QDir::fromNativeSeparators(folder);
    while (folder.size() > 1 && folder.endsWith(separator))
        folder.chop(1);
    if (!folder.endsWith(separator))
        folder.append(separator);
    return folder;
}

void OpenHomePageAtRandom(Platform& platform, Prompts& prompts) {
    const int n = static_cast<int>(platform.randomDraw() * 100) + 1;
    if (n == 7)
        prompts.shellOpen(QString::fromUtf8(addresses::HomePage));
}

QString ProgramFolderFor(const QString& executableFolder, const QString& dataFromExecutable) {
    const QDir executable(executableFolder);
    if (QFileInfo(executable.filePath(QStringLiteral("Samples"))).isDir() ||
        QFileInfo(executable.filePath(QStringLiteral("HAND-M.CUR"))).isFile())
        return executableFolder;
    if (!dataFromExecutable.isEmpty()) {
        const QString data = QDir::cleanPath(executable.filePath(dataFromExecutable));
        if (QFileInfo(data).isDir())
            return data;
    }
    return executableFolder;
}

QString ProgramFile(Platform& platform, const QString& relative) {
    QString joined = platform.programFolder() + QLatin1Char('/') + relative;
    return QDir::toNativeSeparators(joined);
}

} // namespace parvello
