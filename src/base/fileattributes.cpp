#include "base/failure.h"
#include "base/platform.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace parvello {

int FileAttributes(const QString& path) {
#ifdef Q_OS_WIN
    const DWORD value = GetFileAttributesW(
        reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()));
    if (value == INVALID_FILE_ATTRIBUTES)
        throw Failure(QStringLiteral("File not found: ") + path, failure_numbers::FileNotFound);
    return static_cast<int>(value);
#else
    struct stat info {};
    const QByteArray native = QFile::encodeName(path);
    if (path.isEmpty() || ::lstat(native.constData(), &info) != 0)
        throw Failure(QStringLiteral("File not found: ") + path, failure_numbers::FileNotFound);
    int result = 0;
    if (S_ISLNK(info.st_mode)) {
        result |= attributes::ReparsePoint;
        struct stat target {};
        if (::stat(native.constData(), &target) == 0)
            info = target;
    }
    if (S_ISDIR(info.st_mode))
        result |= attributes::Directory;
    else
        result |= attributes::Archive;
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        result |= attributes::ReadOnly;
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") &&
        name != QLatin1String(".."))
        result |= attributes::Hidden;
    return result;
#endif
}

} // namespace parvello
