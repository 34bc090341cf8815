#include "filelist/addfolder.h"

#include "base/failure.h"
#include "base/platform.h"
#include "base/prompts.h"
#include "base/qtpaths.h"
#include "filelist/wildcard.h"

#include <algorithm>
#include <utility>

namespace parvello {

QString BrowseStartFolder;

namespace {

// Names shown in the box, at most.
constexpr qsizetype ShownSkips = 10;

// Whether the window can hold a name exactly: the text it shows names the same bytes.
bool holdsName(const std::filesystem::path& name) {
    return ToPath(ToQString(name)).native() == name.native();
}

// A name as the window shows it: its text when that names the same bytes (then `held` is
// set), else with its odd bytes escaped.
QString shownName(const std::filesystem::path& name, bool* held = nullptr) {
    QString text = ToQString(name);
    const bool exact = ToPath(text).native() == name.native();
    if (held)
        *held = exact;
    if (exact)
        return text;
    const std::filesystem::path::string_type& native = name.native();
#ifdef Q_OS_WIN
    return QString::fromStdWString(native);
#else
    return EscapedName(QByteArray::fromStdString(native));
#endif
}

// A path the scan could not hold as text: its folder as text, its name escaped.
QString shownPath(const std::filesystem::path& path, PathStyle style) {
    const std::filesystem::path::string_type& native = path.native();
    const auto slash = native.rfind(std::filesystem::path::value_type(Separator(style).unicode()));
    const auto split = slash == native.npos ? 0 : slash + 1;
    return ToQString(std::filesystem::path(native.substr(0, split))) +
           shownName(std::filesystem::path(native.substr(split)));
}

// What the engine's scan reported since the last call, moved to the window's lists.
void takeReports(ScanServices& services) {
    const PathStyle style = services.folders.style();
    for (const std::filesystem::path& path : services.scan.unrepresentable)
        services.unrepresentable.append(shownPath(path, style));
    services.scan.unrepresentable.clear();
    for (const ScanLeftOut& left : services.scan.skipped)
        services.skipped.append({CollapseBackslashes(ToQString(left.path), style),
                                 ToQString(std::string_view(left.reason))});
    services.scan.skipped.clear();
}

// A failed listing as the failure the window has always shown for it.
Failure failureOf(const ListingError& error) {
    const QString folder = ToQString(error.folder());
    switch (error.problem()) {
    case ListingProblem::PermissionDenied:
        return Failure(QStringLiteral("Permission denied: ") + folder,
                       failure_numbers::PermissionDenied);
    case ListingProblem::PathNotFound:
        return Failure(QStringLiteral("Path not found: ") + folder, failure_numbers::PathNotFound);
    case ListingProblem::Other:
        break;
    }
    return Failure(QStringLiteral("Path/File access error: ") + folder + QStringLiteral(" (") +
                       ToQString(std::string_view(error.systemWords())) + QLatin1Char(')'),
                   75);
}

// A failure as the window describes it: a failed listing as it has always been shown.
QString describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const ListingError& error) {
        return failureOf(error).description();
    } catch (...) {
        return DescribeFailure(failure);
    }
}

// ListSubfolders of the engine with its numbered steps run as the steps of a trap with the
// scan's tag would: a fault injected there fails the step, a failure a handler left with
// the trap fails it too, and each failure shows its box at once.
void listSubfolders(ScanServices& services, std::vector<std::filesystem::path>& list,
                    bool recurse) {
    Trap trap(services.prompts, ListSubfoldersTag);
    FolderScan& scan = services.scan;
    scan.entering = [&trap](int line) { trap.reach(line); };
    scan.leaving = [] { Trap::rethrowPending(); };
    scan.failed = [&services](const ScanFailure& failure) {
        ShowErrorBox(services.prompts, ListSubfoldersTag, failure.line, describe(failure.failure));
    };
    ListSubfolders(scan, list, recurse);
    scan.entering = {};
    scan.leaving = {};
    scan.failed = {};
    scan.failures.clear();
    takeReports(services);
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

ScanServices::ScanServices(Prompts& prompts, FolderAccess& folders, std::function<void()> doEvents,
                           std::function<bool()> stopped)
    : prompts(prompts),
      folders(folders), scan{folders, std::move(doEvents), std::move(stopped), holdsName} {}

void ListSubfolders(ScanServices& services, QStringList& folderList, bool recurse) {
    std::vector<std::filesystem::path> list;
    list.reserve(std::size_t(folderList.size()));
    for (const QString& entry : std::as_const(folderList))
        list.push_back(ToPath(entry));
    listSubfolders(services, list, recurse);
    folderList.clear();
    folderList.reserve(qsizetype(list.size()));
    for (const std::filesystem::path& entry : list)
        folderList.append(ToQString(entry));
}

void AddFilesInFolderTree(ScanServices& services, Trap& trap, const QString& chosen,
                          const QString& extension,
                          const std::function<void(const QString&)>& add) {
    // The tree's numbered steps run as the steps of the caller's trap: a fault injected there
    // fails the step, a failure a handler left with the trap fails it too, and each failure
    // shows its box at once, with the caller's tag.
    FolderTree tree{services.scan};
    tree.entering = [&trap](int line) { trap.reach(line); };
    tree.leaving = [] { Trap::rethrowPending(); };
    tree.failed = [&services, &trap](const ScanFailure& failure) {
        ShowErrorBox(services.prompts, trap.locationTag(), failure.line, describe(failure.failure));
    };
    tree.listSubfolders = [&services](std::vector<std::filesystem::path>& list) {
        listSubfolders(services, list, true);
    };
    AddFilesInFolderTree(tree, ToPath(chosen), extension.toStdU16String(),
                         [&add](const std::filesystem::path& path) { add(ToQString(path)); });
    takeReports(services);
}

bool TakeFoundFile(ScanServices& services, const QString& path) {
    const bool taken = TakeFoundFile(services.scan, ToPath(path));
    if (!services.scan.skipped.empty())
        takeReports(services);
    return taken;
}

QStringList ListFilesInFolder(FolderAccess& folders, const QString& folder, const QString& pattern,
                              QStringList* unrepresentable) {
    QStringList names;
    names.reserve(101); // room for 100 names after the unused element 0
    names.append(QString());
    std::vector<std::filesystem::path> found;
    try {
        const std::u16string units = pattern.toStdU16String();
        found = ListFilesInFolder(folders, ToPath(folder), [&units](const auto& name) {
            return MatchesWildcard(name, units);
        });
    } catch (const ListingError& error) {
        throw failureOf(error);
    }
    QString inFolder = folder;
    if (!inFolder.endsWith(Separator(folders.style())))
        inFolder.append(Separator(folders.style()));
    for (const std::filesystem::path& name : found) {
        bool held = false;
        const QString shown = shownName(name, &held);
        if (held)
            names.append(shown);
        else if (unrepresentable)
            unrepresentable->append(inFolder + shown);
    }
    return names;
}

bool MatchesWildcard(QStringView name, QStringView pattern) {
    const auto units = [](QStringView text) {
        return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                   std::size_t(text.size()));
    };
    return MatchesWildcard(units(name), units(pattern));
}

bool IsExistingFile(FolderAccess& folders, const QString& path) {
    return IsExistingFile(folders, ToPath(path));
}

namespace {

// The real file system with the attributes the platform seam gives (tests set some).
class WindowFolders : public FolderAccess {
public:
    explicit WindowFolders(Platform& platform) : platform_(platform) {}

    PathStyle style() const override { return local_->style(); }
    int attributes(const std::filesystem::path& path) override {
        return platform_.fileAttributes(ToQString(path));
    }
    bool isRootFolder(const std::filesystem::path& folder) override {
        return local_->isRootFolder(folder);
    }
    std::vector<SubFolder> subFolders(const std::filesystem::path& folder) override {
        return local_->subFolders(folder);
    }
    std::vector<FileEntry> fileNames(const std::filesystem::path& folder) override {
        return local_->fileNames(folder);
    }
    bool isRegularFile(const std::filesystem::path& path) override {
        return local_->isRegularFile(path);
    }
    std::filesystem::path resolvedPath(const std::filesystem::path& folder) override {
        return local_->resolvedPath(folder);
    }
    PathTarget target(const std::filesystem::path& path) override { return local_->target(path); }

private:
    Platform& platform_;
    std::shared_ptr<FolderAccess> local_ = LocalFolderAccess();
};

} // namespace

std::shared_ptr<FolderAccess> LocalFolderAccess(Platform& platform) {
    return std::make_shared<WindowFolders>(platform);
}

QStringList UnrepresentableTwins(const QString& path) {
    QStringList twins;
#ifdef Q_OS_UNIX
    if (!path.contains(QChar::ReplacementCharacter))
        return twins;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QStringLiteral(".") : path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    const std::shared_ptr<FolderAccess> local = LocalFolderAccess();
    std::vector<std::filesystem::path> names;
    try {
        for (SubFolder& sub : local->subFolders(ToPath(folder)))
            names.push_back(std::move(sub.name));
        for (FileEntry& file : local->fileNames(ToPath(folder)))
            names.push_back(std::move(file.name));
    } catch (const ListingError&) {
    }
    std::sort(names.begin(), names.end(), NameOrderLess);
    for (const std::filesystem::path& found : names)
        if (!holdsName(found) && ToQString(found) == name)
            twins.append(path.left(slash + 1) + shownName(found));
#else
    Q_UNUSED(path);
#endif
    return twins;
}

} // namespace parvello
