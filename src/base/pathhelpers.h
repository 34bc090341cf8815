// Small path and list routines shared by the whole program. Paths are plain texts; the
// separator style is a parameter so that the Windows behaviour can be checked anywhere.
// All comparisons are exact and case-sensitive.
#pragma once

#include "base/pathstyle.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace parvello {

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

// True when the file system's name bytes come back unchanged from the text the program
// holds for them (QFile::decodeName, then encodeName). A name that does not (bytes that are
// not valid in the file-name encoding) would name another file, or none, if used as text.
bool NameRoundTrips(const QByteArray& nativeName);

// A name's bytes for showing: valid UTF-8 as its characters, every other byte as \xHH
// ("caf\xE9.txt").
QString EscapedName(const QByteArray& nativeName);

// The message that names files and folders left out because their names cannot be held
// exactly; "" when there are none.
QString UnrepresentableNamesMessage(const QStringList& escapedNames);

// Whether any of the rows equals the text exactly; every row is visited.
bool ListHasItem(const QStringList& rows, const QString& text);

} // namespace parvello
