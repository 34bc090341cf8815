// What the program asks of the operating system, behind one interface so that tests
// can give fixed answers.
#pragma once

#include "base/fileattributes.h"

#include <QPoint>
#include <QString>

namespace parvello {

class Platform {
public:
    virtual ~Platform() = default;

    // The program folder, without a trailing separator: the folder that holds Samples/,
    // the pointer files and the optional skin (see ProgramFolderFor).
    virtual QString programFolder() = 0;

    // The user's desktop folder as the system reports it, or "" when it has none.
    virtual QString desktopFolder() = 0;

    // The attributes of a file or folder; fails when they cannot be read.
    virtual int fileAttributes(const QString& path) = 0;

    // The mouse pointer's position on the screen, in pixels.
    virtual QPoint cursorPosition() = 0;

    // A random number r with 0 <= r < 1.
    virtual double randomDraw() = 0;
};

// The attributes of a path read from the file system, as Platform::fileAttributes gives
// them on this system. On POSIX: 16 directory, 2 hidden (name begins with "."), 1 read-only
// (no write permission bit), 32 archive (every regular file), 1024 symbolic link; the
// system bit is never set. Fails (Failure) when the path does not exist.
int FileAttributes(const QString& path);

} // namespace parvello
