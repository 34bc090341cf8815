// Fixed answers for the operating-system questions; file attributes come from the real
// file system unless a test overrides them for a path.
#pragma once

#include "base/platform.h"

#include <QHash>

namespace parvello::testing {

class FakePlatform : public Platform {
public:
    QString programFolderPath;
    QString desktop = QStringLiteral("/home/tester/Desktop");
    QPoint cursor;
    double draw = 0.5; // n = 51: the home page stays closed
    QHash<QString, int> attributeOverrides;

    QString programFolder() override { return programFolderPath; }
    QString desktopFolder() override { return desktop; }
    int fileAttributes(const QString& path) override {
        const auto found = attributeOverrides.constFind(path);
        return found != attributeOverrides.cend() ? *found : FileAttributes(path);
    }
    QPoint cursorPosition() override { return cursor; }
    double randomDraw() override { return draw; }
};

} // namespace parvello::testing
