#include "filelist/folderaccess.h"

#include "base/failure.h"
#include "base/filestatus.h"
#include "base/platform.h"
#include "base/qtpaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <optional>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <dirent.h>
#endif

namespace parvello {

namespace {

[[noreturn]] void listingFailed(const QString& folder, int error) {
#ifdef Q_OS_UNIX
    if (error == EACCES || error == EPERM)
        throw Failure(QStringLiteral("Permission denied: ") + folder,
                      failure_numbers::PermissionDenied);
    if (error == ENOENT || error == ENOTDIR)
        throw Failure(QStringLiteral("Path not found: ") + folder, failure_numbers::PathNotFound);
    throw Failure(QStringLiteral("Path/File access error: ") + folder + QStringLiteral(" (") +
                      QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')'),
                  75);
#else
    Q_UNUSED(error);
    throw Failure(QStringLiteral("Path not found: ") + folder, failure_numbers::PathNotFound);
#endif
}

enum class EntryKind { Folder, LinkToFolder, RegularFile, Other };

#ifdef Q_OS_UNIX

// What one directory entry is; links are followed to see whether they lead to a folder.
EntryKind kindOf(const QByteArray& folder, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return EntryKind::Folder;
    if (entry->d_type == DT_REG)
        return EntryKind::RegularFile;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return EntryKind::Other;
    const QByteArray full = folder + '/' + entry->d_name;
    if (entry->d_type == DT_UNKNOWN) {
        const FileStatus info =
            FileStatus::Of(std::filesystem::path(full.toStdString()), Links::DoNotFollow);
        if (info.isFolder())
            return EntryKind::Folder;
        if (!info.isLink())
            return info.isRegular() ? EntryKind::RegularFile : EntryKind::Other;
    }
    const FileStatus info = FileStatus::Of(std::filesystem::path(full.toStdString()));
    if (info.isFolder())
        return EntryKind::LinkToFolder;
    return info.isRegular() ? EntryKind::RegularFile : EntryKind::Other;
}

// The entry's name as text; a name that does not survive the trip to text and back is
// given with its odd bytes escaped, for showing only.
QString nameOf(const dirent* entry) {
    const QByteArray bytes(entry->d_name);
    return NameRoundTrips(bytes) ? QFile::decodeName(bytes) : EscapedName(bytes);
}

// Calls `take` for every entry of the folder except "." and "..".
template <class F> void forEachEntry(const QString& folder, F&& take) {
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = ::opendir(native.constData());
    if (!dir)
        listingFailed(folder, errno);
    struct Closer {
        DIR* dir;
        ~Closer() { ::closedir(dir); }
    } closer{dir};
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0)
                listingFailed(folder, errno);
            return;
        }
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        take(native, entry);
    }
}
#endif

// The entries of folder that `kept` takes (on this system; `qtFilters` elsewhere), as
// Entry{name, the flag kept gives, whether the name is held exactly}, sorted by name.
template <class Entry, class Kept, class QtFlag>
QList<Entry> listed(const QString& folder, QDir::Filters qtFilters, Kept&& kept, QtFlag&& qtFlag) {
    QList<Entry> found;
#ifdef Q_OS_UNIX
    Q_UNUSED(qtFilters);
    Q_UNUSED(qtFlag);
    forEachEntry(folder, [&](const QByteArray& native, const dirent* entry) {
        if (const std::optional<bool> flag = kept(kindOf(native, entry)))
            found.append({nameOf(entry), *flag, NameRoundTrips(entry->d_name)});
    });
#else
    Q_UNUSED(kept);
    const QDir dir(folder);
    if (!dir.exists())
        listingFailed(folder, 0);
    const QFileInfoList entries = dir.entryInfoList(qtFilters);
    for (const QFileInfo& entry : entries)
        found.append({entry.fileName(), qtFlag(entry)});
#endif
    std::sort(found.begin(), found.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return found;
}

class LocalFolders : public FolderAccess {
public:
    explicit LocalFolders(Platform& platform) : platform_(platform) {}

    PathStyle style() const override { return NativePathStyle(); }

    int attributes(const QString& path) override { return platform_.fileAttributes(path); }

    bool isRootFolder(const QString& folder) override {
        const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(folder));
        return !clean.isEmpty() && QDir(clean).isRoot();
    }

    QList<SubFolder> subFolders(const QString& folder) override {
        return listed<SubFolder>(
            folder, QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
            [](EntryKind kind) -> std::optional<bool> {
                if (kind == EntryKind::Folder || kind == EntryKind::LinkToFolder)
                    return kind == EntryKind::LinkToFolder; // whether it is a link
                return std::nullopt;
            },
            [](const QFileInfo& entry) { return entry.isSymLink() || entry.isJunction(); });
    }

    QList<FileEntry> fileNames(const QString& folder) override {
        return listed<FileEntry>(
            folder, QDir::Files | QDir::Hidden | QDir::System,
            [](EntryKind kind) -> std::optional<bool> {
                if (kind == EntryKind::RegularFile || kind == EntryKind::Other)
                    return kind == EntryKind::RegularFile; // whether it is a regular file
                return std::nullopt;
            },
            [](const QFileInfo& entry) { return entry.isFile(); });
    }

    bool isRegularFile(const QString& path) override {
        if (path.isEmpty())
            return false;
#ifdef Q_OS_UNIX
        return FileStatus::Of(ToPath(path)).isRegular();
#else
        return QFileInfo(path).isFile();
#endif
    }

    QString resolvedPath(const QString& folder) override {
        return QFileInfo(folder).canonicalFilePath();
    }

#ifdef Q_OS_UNIX
    // One status call answers both questions.
    PathTarget target(const QString& path) override {
        const FileStatus info = path.isEmpty() ? FileStatus() : FileStatus::Of(ToPath(path));
        if (!info.exists())
            return {};
        return {ToQString(info.id.text()), info.isRegular()};
    }
#endif

private:
    Platform& platform_;
};

} // namespace

QStringList UnrepresentableTwins(const QString& path) {
    QStringList twins;
#ifdef Q_OS_UNIX
    if (!path.contains(QChar::ReplacementCharacter))
        return twins;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    try {
        forEachEntry(folder, [&](const QByteArray&, const dirent* entry) {
            const QByteArray bytes(entry->d_name);
            if (!NameRoundTrips(bytes) && QFile::decodeName(bytes) == name)
                twins.append(path.left(slash + 1) + EscapedName(bytes));
        });
    } catch (const Failure&) {
    }
#else
    Q_UNUSED(path);
#endif
    return twins;
}

std::shared_ptr<FolderAccess> LocalFolderAccess(Platform& platform) {
    return std::make_shared<LocalFolders>(platform);
}

} // namespace parvello
