#include "filelist/folderaccess.h"

#include "base/failure.h"
#include "base/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
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

#ifdef Q_OS_UNIX
enum class EntryKind { Folder, LinkToFolder, RegularFile, Other };

// What one directory entry is; links are followed to see whether they lead to a folder.
EntryKind kindOf(const QByteArray& folder, const dirent* entry) {
    if (entry->d_type == DT_DIR)
        return EntryKind::Folder;
    if (entry->d_type == DT_REG)
        return EntryKind::RegularFile;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
        return EntryKind::Other;
    const QByteArray full = folder + '/' + entry->d_name;
    struct stat info {};
    if (entry->d_type == DT_UNKNOWN) {
        if (::lstat(full.constData(), &info) != 0)
            return EntryKind::Other;
        if (S_ISDIR(info.st_mode))
            return EntryKind::Folder;
        if (!S_ISLNK(info.st_mode))
            return S_ISREG(info.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
    }
    if (::stat(full.constData(), &info) != 0)
        return EntryKind::Other;
    if (S_ISDIR(info.st_mode))
        return EntryKind::LinkToFolder;
    return S_ISREG(info.st_mode) ? EntryKind::RegularFile : EntryKind::Other;
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
        QList<SubFolder> found;
#ifdef Q_OS_UNIX
        forEachEntry(folder, [&](const QByteArray& native, const dirent* entry) {
            const EntryKind kind = kindOf(native, entry);
            if (kind == EntryKind::Folder || kind == EntryKind::LinkToFolder)
                found.append({nameOf(entry), kind == EntryKind::LinkToFolder,
                              NameRoundTrips(entry->d_name)});
        });
#else
        const QDir dir(folder);
        if (!dir.exists())
            listingFailed(folder, 0);
        const QFileInfoList entries =
            dir.entryInfoList(QDir::Dirs | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& entry : entries)
            found.append({entry.fileName(), entry.isSymLink() || entry.isJunction()});
#endif
        std::sort(found.begin(), found.end(),
                  [](const SubFolder& a, const SubFolder& b) { return a.name < b.name; });
        return found;
    }

    QList<FileEntry> fileNames(const QString& folder) override {
        QList<FileEntry> files;
#ifdef Q_OS_UNIX
        forEachEntry(folder, [&](const QByteArray& native, const dirent* entry) {
            const EntryKind kind = kindOf(native, entry);
            if (kind == EntryKind::RegularFile || kind == EntryKind::Other)
                files.append(
                    {nameOf(entry), kind == EntryKind::RegularFile, NameRoundTrips(entry->d_name)});
        });
#else
        const QDir dir(folder);
        if (!dir.exists())
            listingFailed(folder, 0);
        const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QFileInfo& entry : entries)
            files.append({entry.fileName(), entry.isFile()});
#endif
        std::sort(files.begin(), files.end(),
                  [](const FileEntry& a, const FileEntry& b) { return a.name < b.name; });
        return files;
    }

    bool isRegularFile(const QString& path) override {
        if (path.isEmpty())
            return false;
#ifdef Q_OS_UNIX
        struct stat info {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISREG(info.st_mode);
#else
        return QFileInfo(path).isFile();
#endif
    }

    QString resolvedPath(const QString& folder) override {
        return QFileInfo(folder).canonicalFilePath();
    }

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
