#include "base/pathhelpers.h"

#include "base/failure.h"
#include "base/platform.h"
#include "base/printabletext.h"
#include "base/separators.h"

#include <QFile>

namespace parvello {

namespace {

constexpr qsizetype MaxPosition16 = 32767;

[[noreturn]] void overflow() {
    throw Failure(QStringLiteral("Overflow"), failure_numbers::Overflow);
}

// How many names a message about left-out names shows one by one.
constexpr qsizetype ShownNames = 10;

} // namespace

bool NameRoundTrips(const QByteArray& nativeName) {
    return QFile::encodeName(QFile::decodeName(nativeName)) == nativeName;
}

QString EscapedName(const QByteArray& nativeName) {
    return QString::fromStdString(
        EscapedName(std::string_view(nativeName.constData(), size_t(nativeName.size()))));
}

QString UnrepresentableNamesMessage(const QStringList& escapedNames) {
    if (escapedNames.isEmpty())
        return QString();
    QString text = QStringLiteral("These names cannot be held exactly, so they were left out:");
    for (qsizetype i = 0; i < escapedNames.size() && i < ShownNames; ++i)
        text += QStringLiteral("\r\n") + escapedNames[i];
    if (escapedNames.size() > ShownNames)
        text += QStringLiteral("\r\n... and %1 more.").arg(escapedNames.size() - ShownNames);
    return text;
}

QString FileNameOfPath(const QString& path, PathStyle style) {
    if (path.isEmpty())
        return QString();
    // The position counter is 16 bits wide: it cannot walk past 32767.
    if (path.size() > MaxPosition16)
        overflow();
    return NameAfterLastSlash(path, style);
}

QString NameAfterLastSlash(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(Separator(style));
    return path.mid(last + 1);
}

QString FolderOfPath(const QString& path, PathStyle style) {
    const qsizetype last = path.lastIndexOf(Separator(style));
    if (last + 1 > MaxPosition16)
        overflow();
    if (last < 0)
        return QString();
    return path.left(last + 1);
}

bool IsFolder(const QString& path) {
    try {
        return (FileAttributes(path) & attributes::Directory) != 0;
    } catch (const Failure&) {
        return false;
    }
}

QString CollapseBackslashes(const QString& path, PathStyle style) {
    const std::u16string_view units(reinterpret_cast<const char16_t*>(path.utf16()),
                                    size_t(path.size()));
    return QString::fromStdU16String(CollapseSeparators(units, style));
}

bool ListHasItem(const QStringList& rows, const QString& text) {
    bool found = false;
    for (const QString& row : rows) {
        if (row == text)
            found = true;
    }
    return found;
}

} // namespace parvello
