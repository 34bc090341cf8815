#include "app/systemplatform.h"

#include "base/startup.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
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
    return QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::DesktopLocation));
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
