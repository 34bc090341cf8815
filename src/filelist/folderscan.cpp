#include "filelist/folderscan.h"

#include <algorithm>
#include <cstddef>
#include <string_view>
#include <utility>

namespace parvello {

namespace {

using Path = std::filesystem::path;
using Text = Path::string_type;

// Attribute values of hidden system folders (directory + system + hidden, and the same
// reached through a link), compared with the whole value.
constexpr int HiddenSystemFolder = 22;
constexpr int HiddenSystemLinkedFolder = 1046;
// Entries and names this long (in UTF-16 units) are beyond the scan's path limit.
constexpr std::ptrdiff_t PathLimit = 260;

// What the scan says of what it leaves out.
constexpr const char* LeadsOut = "the link leads out of the chosen folder";
constexpr const char* BeyondLimit = "its path is 260 characters or more";
constexpr const char* NoPermission = "permission denied";
constexpr const char* CannotBeRead = "it cannot be read";

Path::value_type separatorOf(PathStyle style) {
    return style == PathStyle::Windows ? Path::value_type('\\') : Path::value_type('/');
}

bool endsWith(const Text& text, Path::value_type unit) {
    return !text.empty() && text.back() == unit;
}

// The length of a name or path in UTF-16 units, as the limit counts it.
std::ptrdiff_t utf16Length(const Path& path) {
    const Text& text = path.native();
#if defined(PARVELLO_OS_WINDOWS)
    return static_cast<std::ptrdiff_t>(text.size());
#else
    // Each byte that starts a character counts one; one beyond the BMP counts two.
    std::ptrdiff_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        length += (byte & 0xC0) != 0x80 ? 1 : 0;
        length += byte >= 0xF0 ? 1 : 0;
    }
    return length;
#endif
}

bool holds(const FolderScan& scan, const Path& name) {
    return !scan.holdsName || scan.holdsName(name);
}

void fail(FolderScan& scan, int line, std::exception_ptr failure) {
    scan.failures.push_back({line, std::move(failure)});
    if (scan.failed)
        scan.failed(scan.failures.back());
}

// One numbered step; a failure in it is kept and the scan goes on with the next step.
template <class F> void step(FolderScan& scan, int line, F&& body) {
    try {
        if (scan.entering)
            scan.entering(line);
        body();
        if (scan.leaving)
            scan.leaving();
    } catch (...) {
        fail(scan, line, std::current_exception());
    }
}

// A numbered condition test: a failure in it is kept and counts as true, so the steps it
// guards run next.
template <class F> bool test(FolderScan& scan, int line, F&& condition) {
    try {
        if (scan.entering)
            scan.entering(line);
        const bool result = condition();
        if (scan.leaving)
            scan.leaving();
        return result;
    } catch (...) {
        fail(scan, line, std::current_exception());
        return true;
    }
}

bool isFolder(FolderAccess& folders, const Path& path) {
    try {
        return (folders.attributes(path) & attributes::Directory) != 0;
    } catch (...) {
        return false;
    }
}

// A root is always descended into; any other folder unless it is a hidden system folder.
bool mayDescend(FolderAccess& folders, const Path& folder) {
    if (folders.isRootFolder(folder))
        return true;
    const int value = folders.attributes(folder);
    return value != HiddenSystemFolder && value != HiddenSystemLinkedFolder;
}

void skip(FolderScan& scan, const Path& path, const char* reason) {
    scan.skipped.push_back({path, reason});
}

// True when a real location (as resolvedPath gives it) is one of the chosen folders or
// lies inside one.
bool insideChosen(const ScanRecord& record, const Path& real) {
    const Text& text = real.native();
    if (text.empty())
        return false;
    for (const Path& chosen : record.chosen) {
        Text inside = chosen.native();
        if (inside.empty())
            continue;
        if (text == inside)
            return true;
        if (!endsWith(inside, Path::preferred_separator))
            inside += Path::preferred_separator;
        if (text.starts_with(inside))
            return true;
    }
    return false;
}

// The subfolders of an entry beyond the path limit are not scanned: they are named.
void nameBeyondLimit(FolderScan& scan, const Path& entry) {
    const Path::value_type separator = separatorOf(scan.folders.style());
    try {
        const std::vector<SubFolder> subFolders = scan.folders.subFolders(entry);
        for (const SubFolder& sub : subFolders)
            if (holds(scan, sub.name))
                skip(scan, entry.native() + sub.name.native() + separator, BeyondLimit);
    } catch (...) {
        // Its files are listed as before; a folder that cannot be listed has none to name.
    }
}

// Whether the subfolder `path` (of the entry v, named `name`) is one the scan may enter;
// one it must not is named where the scan says so.
bool mayEnter(FolderScan& scan, const Text& v, const SubFolder& sub, const Path& path) {
    if (utf16Length(sub.name) >= PathLimit) {
        skip(scan, path, BeyondLimit);
        return false;
    }
    if (sub.isLink &&
        !insideChosen(scan.record, scan.folders.resolvedPath(v + sub.name.native()))) {
        skip(scan, path, LeadsOut);
        return false;
    }
    // A folder reached again (through a link, or a mount) is not entered again.
    const std::string identity = scan.folders.target(path).identity;
    return identity.empty() || scan.record.folders.insert(identity).second;
}

// Adds to found the folders in v that the scan may enter (each once; a link only where it
// leads inside the chosen folders). Permission denied and path not found drop v from
// folderList; any other failure ends v's listing. Either way v is named. False when the scan
// was stopped meanwhile.
bool listSubfoldersOf(FolderScan& scan, std::vector<Path>& folderList, const Path& v,
                      std::vector<Path>& found) {
    const Path::value_type separator = separatorOf(scan.folders.style());
    try {
        const std::vector<SubFolder> subFolders = scan.folders.subFolders(v);
        for (const SubFolder& sub : subFolders) {
            scan.doEvents();
            if (scan.stopped())
                return false;
            const Text& name = sub.name.native();
            if (!holds(scan, sub.name)) {
                scan.unrepresentable.push_back(v.native() + name);
                continue;
            }
            if (name == Text(1, '.') || name == Text(2, '.'))
                continue;
            const Path path = v.native() + name + separator;
            if (mayEnter(scan, v.native(), sub, path))
                found.push_back(path);
        }
    } catch (const ListingError& failure) {
        const bool denied = failure.problem() == ListingProblem::PermissionDenied;
        if (denied || failure.problem() == ListingProblem::PathNotFound) {
            const auto at =
                std::find_if(folderList.begin(), folderList.end(),
                             [&v](const Path& entry) { return entry.native() == v.native(); });
            if (at != folderList.end())
                folderList.erase(at);
        }
        skip(scan, v, denied ? NoPermission : CannotBeRead);
    } catch (...) {
        skip(scan, v, CannotBeRead);
    }
    return true;
}

// The first call's entries are the chosen folders: links may lead anywhere inside them,
// and they are entered already.
void recordChosen(FolderScan& scan, const std::vector<Path>& folderList) {
    ScanRecord& record = scan.record;
    if (record.started)
        return;
    record.started = true;
    for (const Path& chosen : folderList) {
        record.chosen.push_back(scan.folders.resolvedPath(chosen));
        if (std::string identity = scan.folders.target(chosen).identity; !identity.empty())
            record.folders.insert(std::move(identity));
    }
}

} // namespace

void ListSubfolders(FolderScan& scan, std::vector<Path>& folderList, bool recurse) {
    FolderAccess& folders = scan.folders;
    recordChosen(scan, folderList);
    step(scan, ScanLines::NoService, [] {}); // the file system needs no service object here
    std::vector<Path> found;
    step(scan, ScanLines::ClearFound, [&] { found.clear(); });
    // The entries as they stand now: removing one below does not disturb the walk.
    const std::vector<Path> entries = folderList;
    for (const Path& v : entries) {
        if (!test(scan, ScanLines::IsFolderTest, [&] { return isFolder(folders, v); }))
            continue;
        if (!test(scan, ScanLines::LengthTest, [&] { return utf16Length(v) < PathLimit; })) {
            nameBeyondLimit(scan, v);
            continue;
        }
        step(scan, ScanLines::HandleEvents, [&] { scan.doEvents(); });
        if (scan.stopped())
            return;
        if (!test(scan, ScanLines::MayDescendTest, [&] { return mayDescend(folders, v); }))
            continue;
        if (!listSubfoldersOf(scan, folderList, v, found))
            return;
    }
    step(scan, ScanLines::Recurse, [&] {
        if (recurse && !found.empty())
            ListSubfolders(scan, found, true);
    });
    if (scan.stopped())
        return;
    for (const Path& w : found) {
        if (!test(scan, ScanLines::FoundIsFolderTest, [&] { return isFolder(folders, w); }))
            continue;
        step(scan, ScanLines::HandleEventsAgain, [&] { scan.doEvents(); });
        if (scan.stopped())
            return;
        if (test(scan, ScanLines::FoundMayDescendTest, [&] { return mayDescend(folders, w); }))
            step(scan, ScanLines::AddFolder, [&] { folderList.push_back(w); });
    }
}

std::vector<Path> ListFilesInFolder(FolderAccess& folders, const Path& folder,
                                    const NameTest& matches, const NameTest& holdsName,
                                    std::vector<Path>* unrepresentable) {
    std::vector<Path> names;
    Text inFolder = folder.native();
    const Path::value_type separator = separatorOf(folders.style());
    if (!endsWith(inFolder, separator))
        inFolder += separator;
    const std::vector<FileEntry> candidates = folders.fileNames(inFolder);
    names.reserve(candidates.size());
    for (const FileEntry& file : candidates) {
        // The listing has already told whether IsExistingFile would accept the name.
        if (!file.isRegularFile || !matches(file.name))
            continue;
        if (!holdsName || holdsName(file.name))
            names.push_back(file.name);
        else if (unrepresentable)
            unrepresentable->push_back(inFolder + file.name.native());
    }
    return names;
}

bool IsExistingFile(FolderAccess& folders, const Path& path) {
    try {
        return folders.isRegularFile(path);
    } catch (...) {
        return false;
    }
}

bool QualifiesForList(FolderAccess& folders, const Path& path) {
    return IsExistingFile(folders, path) && folders.attributes(path) != HiddenArchiveFile;
}

bool TakeFoundFile(FolderScan& scan, const Path& path) {
    FolderAccess& folders = scan.folders;
    const PathTarget target = folders.target(path);
    if (!target.regularFile)
        return false;
    const int value = folders.attributes(path);
    if (value == HiddenArchiveFile)
        return false;
    if ((value & attributes::ReparsePoint) != 0 &&
        !insideChosen(scan.record, folders.resolvedPath(path))) {
        skip(scan, path, LeadsOut);
        return false;
    }
    if (target.identity.empty())
        return true;
    return scan.record.files.insert(target.identity).second;
}

} // namespace parvello
