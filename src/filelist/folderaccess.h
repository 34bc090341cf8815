// The file-system questions the folder scan asks: attributes, folder listings, the open
// test. The program uses the real file system; the interface lets the scan's path
// handling in the Windows separator style be exercised on any system.
#pragma once

#include "base/pathhelpers.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

namespace parvello {

class Platform;

// One subfolder as a folder listing reports it.
// A name whose bytes the program cannot hold exactly as text (see NameRoundTrips) comes
// with exactName false and its bytes escaped for showing (EscapedName): it must not be
// opened by that text, which would name another file or none.
struct SubFolder {
    QString name;
    bool isLink = false; // reached through a symbolic link or junction
    bool exactName = true;
};

// One entry of a folder listing that is not a folder.
struct FileEntry {
    QString name;
    bool isRegularFile = false;
    bool exactName = true;
};

// What a path leads to, every link followed.
struct PathTarget {
    // Stands for the file or folder itself, whatever name reaches it (device and inode
    // where the system has them); "" when the path cannot be examined.
    QString identity;
    bool regularFile = false;
};

class FolderAccess {
public:
    virtual ~FolderAccess() = default;

    // The separator style of every path handed in and out.
    virtual PathStyle style() const = 0;

    // The attributes of a file or folder as the Windows integer; fails (Failure) when they
    // cannot be read.
    virtual int attributes(const QString& path) = 0;

    // True for the root of a drive or file system ("C:\", "/").
    virtual bool isRootFolder(const QString& folder) = 0;

    // The subfolders of a folder (no "." or ".."), hidden ones included, in name order.
    // Fails with failure_numbers::PermissionDenied when the folder may not be listed and
    // with failure_numbers::PathNotFound when it is missing or not a folder.
    virtual QList<SubFolder> subFolders(const QString& folder) = 0;

    // Everything in a folder that is not a folder (hidden files included), in name order,
    // each with whether it is a regular file (as isRegularFile would answer, told by the
    // listing itself where it can). Fails like subFolders.
    virtual QList<FileEntry> fileNames(const QString& folder) = 0;

    // True when the path names an existing regular file (a link to one included).
    virtual bool isRegularFile(const QString& path) = 0;

    // The folder's real location with every link resolved, with "/" separators, or ""
    // when it cannot be resolved.
    virtual QString resolvedPath(const QString& folder) = 0;

    // What the path leads to; by default its resolved path stands for its identity.
    virtual PathTarget target(const QString& path) {
        return {resolvedPath(path), isRegularFile(path)};
    }
};

// A path that came in as text (from a dialog) may stand for a name whose bytes the
// program cannot hold: such names are shown with U+FFFD in place of their odd bytes, and
// opening the text would open another file, or none. Returns, escaped, the names in the
// path's folder that read as the path's name but are not it; empty when there are none
// (always for a name without U+FFFD).
QStringList UnrepresentableTwins(const QString& path);

// The real file system, in the native separator style. Attributes come through the
// platform seam.
std::shared_ptr<FolderAccess> LocalFolderAccess(Platform& platform);

} // namespace parvello
