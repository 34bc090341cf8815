#include "app/systemplatform.h"

#include "base/startup.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace parvello {

// Where the build installs the data folder, from the folder of the installed executable
// (src/CMakeLists.txt): "../share/parvello" on Linux.
#ifndef PARVELLO_DATA_FROM_PROGRAM
#define PARVELLO_DATA_FROM_PROGRAM ""
#endif

QString SystemPlatform::programFolder() {
    return QDir::toNativeSeparators(ProgramFolderFor(QCoreApplication::applicationDirPath(),
                                                     QStringLiteral(PARVELLO_DATA_FROM_PROGRAM)));
}

QString SystemPlatform::desktopFolder() {
    // The desktop folder the system names (on Linux the XDG user folder); many desktops
    // have none, and results must go to a folder that exists: then the home folder.
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && QFileInfo(desktop).isDir())
        return QDir::toNativeSeparators(desktop);
    return QDir::toNativeSeparators(QDir::homePath());
}

int SystemPlatform::fileAttributes(const QString& path) {
    return FileAttributes(path);
}

QPoint SystemPlatform::cursorPosition() {
    return QCursor::pos();
}

double SystemPlatform::randomDraw() {
    return QRandomGenerator::global()->generateDouble();
}

} // namespace parvello
