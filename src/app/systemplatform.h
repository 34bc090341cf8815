#pragma once

#include "base/platform.h"

namespace parvello {

// The real operating system.
class SystemPlatform : public Platform {
public:
    QString programFolder() override;
    QString desktopFolder() override;
    int fileAttributes(const QString& path) override;
    QPoint cursorPosition() override;
    double randomDraw() override;
};

} // namespace parvello
