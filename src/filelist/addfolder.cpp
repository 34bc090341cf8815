#include "filelist/addfolder.h"

#include "base/failure.h"
#include "base/prompts.h"
#include "filelist/folderaccess.h"

#include <utility>

namespace parvello {

QString BrowseStartFolder;

namespace {

// Attribute values of hidden system folders (directory + system + hidden, and the same
// reached through a link), compared with the whole value.
constexpr int HiddenSystemFolder = 22;
constexpr int HiddenSystemLinkedFolder = 1046;
// Entries and names this long are beyond the scan's path limit.
constexpr qsizetype PathLimit = 260;

bool isFolder(FolderAccess& folders, const QString& path) {
    try {
        return (folders.attributes(path) & 16) != 0;
    } catch (...) {
        return false;
    }
}

// A root is always descended into; any other folder unless it is a hidden system folder.
bool mayDescend(FolderAccess& folders, const QString& folder) {
    if (folders.isRootFolder(folder))
        return true;
    const int value = folders.attributes(folder);
    return value != HiddenSystemFolder && value != HiddenSystemLinkedFolder;
}

// True when the link leads to a folder on `parent`'s own path (the parent itself or one
// of the folders it lies in, wherever those really are): following it would reach the
// link again and again.
bool leadsBack(FolderAccess& folders, const QString& parent, const QString& link) {
    const QString target = folders.resolvedPath(link);
    if (target.isEmpty())
        return false;
    const QString inside = target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/');
    const QChar separator = Separator(folders.style());
    QString prefix = parent;
    while (!prefix.isEmpty()) {
        const QString real = folders.resolvedPath(prefix);
        if (!real.isEmpty() && (real == target || real.startsWith(inside)))
            return true;
        while (prefix.endsWith(separator))
            prefix.chop(1);
        prefix.truncate(prefix.lastIndexOf(separator) + 1);
    }
    return false;
}

// Case-insensitive match of `*` (any run) and `?` (one character).
bool globMatch(QStringView name, QStringView pattern) {
    qsizetype n = 0;
    qsizetype p = 0;
    qsizetype starAt = -1;
    qsizetype resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starAt = p++;
            resumeAt = n;
        } else if (p < pattern.size() &&
                   (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starAt >= 0) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

} // namespace

int BrowseCallback(int message, QString& selection) {
    try {
        if (message == BFFM_INITIALIZED)
            selection = BrowseStartFolder.left(BrowseStartFolder.indexOf(QChar(0)));
    } catch (...) {
    }
    return 0;
}

QString BrowseForFolder(Prompts& prompts, const QString& prompt, const QString& startFolder) {
    BrowseStartFolder = startFolder + QChar(0);
    QString selection;
    BrowseCallback(BFFM_INITIALIZED, selection);
    return prompts.browseForFolder(prompt, selection);
}

// The lines of the folder scan (GetSubDirectories2016): the numbers users see in the
// "Application Error" box ("in ...GetSubDirectories2016 at line N") when a step fails.
struct ScanLines {
    enum : int {
        NoService = 100,
        ClearFound = 104,
        IsFolderTest = 108,
        LengthTest = 110,
        HandleEvents = 114,
        MayDescendTest = 116,
        Recurse = 150,
        FoundIsFolderTest = 154,
        HandleEventsAgain = 156,
        FoundMayDescendTest = 158,
        AddFolder = 160,
    };
};

void GetSubDirectories2016(ScanServices& services, QStringList& folderList, bool recurse) {
    FolderAccess& folders = services.folders;
    const QChar separator = Separator(folders.style());
    Trap trap(services.prompts, GetSubDirectories2016Tag);
    trap.step(ScanLines::NoService, [] {}); // the file system needs no service object here
    QStringList found;
    trap.step(ScanLines::ClearFound, [&] { found.clear(); });
    // The entries as they stand now: removing one below does not disturb the walk.
    const QStringList entries = folderList;
    for (const QString& v : entries) {
        if (!trap.test(ScanLines::IsFolderTest, [&] { return isFolder(folders, v); }))
            continue;
        if (!trap.test(ScanLines::LengthTest, [&] { return v.size() < PathLimit; }))
            continue;
        trap.step(ScanLines::HandleEvents, [&] { services.doEvents(); });
        if (services.stopped())
            return;
        if (!trap.test(ScanLines::MayDescendTest, [&] { return mayDescend(folders, v); }))
            continue;
        // The listing: permission denied and path not found drop the entry silently; any
        // other failure ends this entry's listing unreported.
        try {
            const QList<SubFolder> subFolders = folders.subFolders(v);
            for (const SubFolder& sub : subFolders) {
                services.doEvents();
                if (services.stopped())
                    return;
                const QString& name = sub.name;
                if (!sub.exactName) {
                    services.unrepresentable.append(v + name);
                    continue;
                }
                if (name.size() >= PathLimit || name == QLatin1String(".") ||
                    name == QLatin1String(".."))
                    continue;
                if (sub.isLink && leadsBack(folders, v, v + name))
                    continue;
                found.append(v + name + separator);
            }
        } catch (const Failure& failure) {
            if (failure.number() == failure_numbers::PermissionDenied ||
                failure.number() == failure_numbers::PathNotFound) {
                const qsizetype at = folderList.indexOf(v);
                if (at >= 0)
                    folderList.removeAt(at);
            }
        } catch (...) {
        }
    }
    trap.step(ScanLines::Recurse, [&] {
        if (recurse && !found.isEmpty())
            GetSubDirectories2016(services, found, true);
    });
    if (services.stopped())
        return;
    for (const QString& w : std::as_const(found)) {
        if (!trap.test(ScanLines::FoundIsFolderTest, [&] { return isFolder(folders, w); }))
            continue;
        trap.step(ScanLines::HandleEventsAgain, [&] { services.doEvents(); });
        if (services.stopped())
            return;
        if (trap.test(ScanLines::FoundMayDescendTest, [&] { return mayDescend(folders, w); }))
            trap.step(ScanLines::AddFolder, [&] { folderList.append(w); });
    }
}

QStringList ListFilesInFolder(FolderAccess& folders, const QString& folder, const QString& pattern,
                              QStringList* unrepresentable) {
    QStringList names;
    names.reserve(101); // room for 100 names after the unused element 0
    names.append(QString());
    QString inFolder = folder;
    const QChar separator = Separator(folders.style());
    if (!inFolder.endsWith(separator))
        inFolder.append(separator);
    const QList<FileEntry> candidates = folders.fileNames(inFolder);
    for (const FileEntry& file : candidates) {
        // The listing has already told whether IsExistingFile would accept the name.
        if (!file.isRegularFile || !MatchesWildcard(file.name, pattern))
            continue;
        if (file.exactName)
            names.append(file.name);
        else if (unrepresentable)
            unrepresentable->append(inFolder + file.name);
    }
    return names;
}

bool MatchesWildcard(QStringView name, QStringView pattern) {
    // A trailing ".*" also matches a name without any extension ("*.*" matches all).
    if (globMatch(name, pattern))
        return true;
    return pattern.endsWith(QLatin1String(".*")) && globMatch(name, pattern.chopped(2));
}

bool IsExistingFile(FolderAccess& folders, const QString& path) {
    try {
        return folders.isRegularFile(path);
    } catch (...) {
        return false;
    }
}

bool QualifiesForList(FolderAccess& folders, const QString& path) {
    return IsExistingFile(folders, path) && folders.attributes(path) != HiddenArchiveFile;
}

} // namespace parvello
