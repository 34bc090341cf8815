#include "filelist/addfolder.h"

#include "base/failure.h"
#include "base/platform.h"
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

// What the scan says of what it leaves out.
const QString LeadsOut = QStringLiteral("the link leads out of the chosen folder");
const QString BeyondLimit = QStringLiteral("its path is 260 characters or more");
const QString NoPermission = QStringLiteral("permission denied");
const QString CannotBeRead = QStringLiteral("it cannot be read");
// Names shown in the box, at most.
constexpr qsizetype ShownSkips = 10;

void skip(ScanServices& services, const QString& path, const QString& reason) {
    services.skipped.append({CollapseBackslashes(path, services.folders.style()), reason});
}

// True when a real location (as resolvedPath gives it) is one of the chosen folders or
// lies inside one.
bool insideChosen(const ScanServices::Record& record, const QString& real) {
    if (real.isEmpty())
        return false;
    for (const QString& chosen : record.chosen) {
        if (chosen.isEmpty())
            continue;
        if (real == chosen ||
            real.startsWith(chosen.endsWith(QLatin1Char('/')) ? chosen : chosen + QLatin1Char('/')))
            return true;
    }
    return false;
}

// The subfolders of an entry beyond the path limit are not scanned: they are named.
void nameBeyondLimit(ScanServices& services, const QString& entry) {
    const QChar separator = Separator(services.folders.style());
    try {
        const QList<SubFolder> subFolders = services.folders.subFolders(entry);
        for (const SubFolder& sub : subFolders)
            if (sub.exactName)
                skip(services, entry + sub.name + separator, BeyondLimit);
    } catch (...) {
        // Its files are listed as before; a folder that cannot be listed has none to name.
    }
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

// The lines of the folder scan (ListSubfolders): the numbers users see in the
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

QString ScanSkipsMessage(const QList<ScanSkip>& skipped) {
    if (skipped.isEmpty())
        return QString();
    QString text = QStringLiteral("These folders and links were left out of the scan:");
    for (qsizetype i = 0; i < skipped.size() && i < ShownSkips; ++i)
        text += QStringLiteral("\r\n") + skipped[i].path + QStringLiteral(": ") + skipped[i].reason;
    if (skipped.size() > ShownSkips)
        text += QStringLiteral("\r\n... and %1 more.").arg(skipped.size() - ShownSkips);
    return text;
}

namespace {

// Adds to found the folders in v that the scan may enter (each once; a link only where it
// leads inside the chosen folders). Permission denied and path not found drop v from
// folderList; any other failure ends v's listing. Either way v is named. False when the scan
// was stopped meanwhile.
bool listSubfoldersOf(ScanServices& services, QStringList& folderList, const QString& v,
                      QStringList& found) {
    FolderAccess& folders = services.folders;
    ScanServices::Record& record = services.record;
    const QChar separator = Separator(folders.style());
    try {
        const QList<SubFolder> subFolders = folders.subFolders(v);
        for (const SubFolder& sub : subFolders) {
            services.doEvents();
            if (services.stopped())
                return false;
            const QString& name = sub.name;
            if (!sub.exactName) {
                services.unrepresentable.append(v + name);
                continue;
            }
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QString path = v + name + separator;
            if (name.size() >= PathLimit) {
                skip(services, path, BeyondLimit);
                continue;
            }
            if (sub.isLink && !insideChosen(record, folders.resolvedPath(v + name))) {
                skip(services, path, LeadsOut);
                continue;
            }
            // A folder reached again (through a link, or a mount) is not entered again.
            const QString identity = folders.target(path).identity;
            if (!identity.isEmpty()) {
                if (record.folders.contains(identity))
                    continue;
                record.folders.insert(identity);
            }
            found.append(path);
        }
    } catch (const Failure& failure) {
        const bool denied = failure.number() == failure_numbers::PermissionDenied;
        if (denied || failure.number() == failure_numbers::PathNotFound) {
            const qsizetype at = folderList.indexOf(v);
            if (at >= 0)
                folderList.removeAt(at);
        }
        skip(services, v, denied ? NoPermission : CannotBeRead);
    } catch (...) {
        skip(services, v, CannotBeRead);
    }
    return true;
}

} // namespace

void ListSubfolders(ScanServices& services, QStringList& folderList, bool recurse) {
    FolderAccess& folders = services.folders;
    // The first call's entries are the chosen folders: links may lead anywhere inside
    // them, and they are entered already.
    ScanServices::Record& record = services.record;
    if (!record.started) {
        record.started = true;
        for (const QString& chosen : std::as_const(folderList)) {
            record.chosen.append(folders.resolvedPath(chosen));
            if (const QString identity = folders.target(chosen).identity; !identity.isEmpty())
                record.folders.insert(identity);
        }
    }
    Trap trap(services.prompts, ListSubfoldersTag);
    trap.step(ScanLines::NoService, [] {}); // the file system needs no service object here
    QStringList found;
    trap.step(ScanLines::ClearFound, [&] { found.clear(); });
    // The entries as they stand now: removing one below does not disturb the walk.
    const QStringList entries = folderList;
    for (const QString& v : entries) {
        if (!trap.test(ScanLines::IsFolderTest, [&] { return isFolder(folders, v); }))
            continue;
        if (!trap.test(ScanLines::LengthTest, [&] { return v.size() < PathLimit; })) {
            nameBeyondLimit(services, v);
            continue;
        }
        trap.step(ScanLines::HandleEvents, [&] { services.doEvents(); });
        if (services.stopped())
            return;
        if (!trap.test(ScanLines::MayDescendTest, [&] { return mayDescend(folders, v); }))
            continue;
        if (!listSubfoldersOf(services, folderList, v, found))
            return;
    }
    trap.step(ScanLines::Recurse, [&] {
        if (recurse && !found.isEmpty())
            ListSubfolders(services, found, true);
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

bool TakeFoundFile(ScanServices& services, const QString& path) {
    FolderAccess& folders = services.folders;
    const PathTarget target = folders.target(path);
    if (!target.regularFile)
        return false;
    const int value = folders.attributes(path);
    if (value == HiddenArchiveFile)
        return false;
    if ((value & attributes::ReparsePoint) != 0 &&
        !insideChosen(services.record, folders.resolvedPath(path))) {
        skip(services, path, LeadsOut);
        return false;
    }
    if (target.identity.isEmpty())
        return true;
    if (services.record.files.contains(target.identity))
        return false;
    services.record.files.insert(target.identity);
    return true;
}

} // namespace parvello
