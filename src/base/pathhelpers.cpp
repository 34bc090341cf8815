#include "base/pathhelpers.h"

#include "base/failure.h"
#include "base/platform.h"
#include "base/printablename.h"

#include <QFile>

namespace parvello {

namespace {

constexpr qsizetype MaxPosition16 = 32767;

[[noreturn]] void overflow() {
    throw Failure(QStringLiteral("Overflow"), failure_numbers::Overflow);
}

// Turns each pair of separators met in one pass into a single separator.
QString collapsePairs(QStringView text, QChar separator) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        result.append(text[i]);
        if (text[i] == separator && i + 1 < text.size() && text[i + 1] == separator)
            ++i; // the second of the pair is dropped; scanning goes on after it
    }
    return result;
}

// How many names a message about left-out names shows one by one.
constexpr qsizetype ShownNames = 10;

} // namespace

bool NameRoundTrips(const QByteArray& nativeName) {
    return QFile::encodeName(QFile::decodeName(nativeName)) == nativeName;
}

QString EscapedName(const QByteArray& nativeName) {
    QString shown;
    const QByteArrayView bytes(nativeName);
    for (qsizetype i = 0; i < bytes.size();) {
        char32_t code = 0;
        const qsizetype length = Utf8SequenceAt(bytes.sliced(i), code);
        if (length > 0) {
            shown += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
        } else {
            shown += QStringLiteral("\\x") +
                     QString::number(uchar(bytes[i]), 16).toUpper().rightJustified(2, u'0');
            ++i;
        }
    }
    return shown;
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
    const QChar separator = Separator(style);
    if (path.isEmpty() || path[0] != separator)
        return collapsePairs(path, separator);
    qsizetype rest = 1;
    while (rest < path.size() && path[rest] == separator)
        ++rest;
    const QString lead = style == PathStyle::Windows ? QString(2, separator) : QString(separator);
    return lead + collapsePairs(QStringView(path).mid(rest), separator);
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
