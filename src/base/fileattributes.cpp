#include "base/failure.h"
#include "base/filestatus.h"
#include "base/platform.h"
#include "base/qtpaths.h"

#include <QDir>
#include <QFileInfo>

#ifdef Q_OS_WIN
#include <windows.h>
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
    const std::filesystem::path native = ToPath(path);
    FileStatus info = path.isEmpty() ? FileStatus() : FileStatus::Of(native, Links::DoNotFollow);
    if (!info.exists())
        throw Failure(QStringLiteral("File not found: ") + path, failure_numbers::FileNotFound);
    int result = 0;
    if (info.isLink()) {
        result |= attributes::ReparsePoint;
        // A link to nothing keeps the link's own status.
        if (const FileStatus target = FileStatus::Of(native); target.exists())
            info = target;
    }
    if (info.isFolder())
        result |= attributes::Directory;
    else
        result |= attributes::Archive;
    if (info.unwritable())
        result |= attributes::ReadOnly;
    const QString name = QFileInfo(path).fileName();
    if (name.startsWith(QLatin1Char('.')) && name != QLatin1String(".") &&
        name != QLatin1String(".."))
        result |= attributes::Hidden;
    return result;
#endif
}

} // namespace parvello
