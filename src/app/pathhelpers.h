// Small path and list routines shared by the whole program. Paths are plain texts; the
// separator style is a parameter so that the Windows behaviour can be checked anywhere.
// All comparisons are exact and case-sensitive.
#pragma once

#include <QString>
#include <QStringList>

namespace parvello {

enum class PathStyle { Windows, Posix };

constexpr PathStyle NativePathStyle() {
#ifdef _WIN32
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

constexpr QChar Separator(PathStyle style = NativePathStyle()) {
    return style == PathStyle::Windows ? QChar(u'\\') : QChar(u'/');
}

// The part after the last separator (the whole path when it has none). Walks the path
// with a 16-bit position, so a path longer than 32767 characters fails with an overflow.
QString FileNameOfPath(const QString& path, PathStyle style = NativePathStyle());

// The same answer through one reverse search, without the length limit.
QString NameAfterLastSlash(const QString& path, PathStyle style = NativePathStyle());

// The part up to and including the last separator, or "" when there is none. A last
// separator beyond position 32767 fails with an overflow.
QString FolderOfPath(const QString& path, PathStyle style = NativePathStyle());

// True when the path names a folder; false when it does not or cannot be examined.
bool IsFolder(const QString& path);

// One left-to-right pass that turns each pair of separators it meets into one, so a run
// of n becomes ceil(n/2). A leading run becomes exactly two separators in the Windows
// style (a network path keeps its pair) and exactly one in the POSIX style.
QString CollapseBackslashes(const QString& path, PathStyle style = NativePathStyle());

// Whether any of the rows equals the text exactly; every row is visited.
bool ListHasItem(const QStringList& rows, const QString& text);

} // namespace parvello
