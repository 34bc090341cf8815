#include "app/systemplatform.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QRandomGenerator>
#include <QStandardPaths>

namespace parvello {

QString SystemPlatform::programFolder() {
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
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
