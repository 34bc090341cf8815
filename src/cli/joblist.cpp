#include "cli/joblist.h"

#include "base/failure.h"
#include "base/filestatus.h"
#include "base/pathhelpers.h"
#include "base/platform.h"
#include "base/printablename.h"
#include "base/qtpaths.h"
#include "cli/stderrprompts.h"
#include "filelist/folderaccess.h"
#include "filelist/addfolder.h"
#include "quotes/outputpath.h"
#include "quotes/unreadsources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <functional>
#include <map>
#include <numeric>

#ifdef Q_OS_UNIX
#include <climits>
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace parvello::cli {

namespace {

// The longest name a list may hold: the system's limit on a path. A list that holds a
// longer stretch without a name's end (a device that gives zeros, say) is read no further.
#ifdef PATH_MAX
constexpr qsizetype NameLimit = PATH_MAX;
#else
constexpr qsizetype NameLimit = 32767;
#endif

// The names of a --files-from list, a block at a time, each handed to `take` as its bytes.
// A name longer than NameLimit is no file's name: reading stops there, so a list without
// ends of names (zeros from a device, say) never fills the memory. False then.
bool readNameList(QIODevice& list, char separator,
                  const std::function<void(const QByteArray&)>& take) {
    QByteArray name;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 got; (got = list.read(block.data(), block.size())) > 0;) {
        for (qsizetype from = 0; from < got;) {
            const qsizetype end = block.first(got).indexOf(separator, from);
            name.append(block.constData() + from, (end < 0 ? got : end) - from);
            if (name.size() >= NameLimit)
                return false;
            if (end < 0)
                break;
            if (!name.isEmpty())
                take(std::exchange(name, QByteArray()));
            from = end + 1;
        }
    }
    if (!name.isEmpty())
        take(name);
    return true;
}

// The real file system for the folder scan; the cli asks nothing else of the platform.
class CliPlatform final : public Platform {
public:
    QString programFolder() override { return {}; }
    QString desktopFolder() override { return {}; }
    int fileAttributes(const QString& path) override { return FileAttributes(path); }
    QPoint cursorPosition() override { return {}; }
    double randomDraw() override { return 0; }
};

// A name whose bytes cannot be held exactly as text.
LeftOut unheld(const QString& escaped, const QString& shown) {
    return {escaped, shown, QStringLiteral("unrepresentable-name"),
            QStringLiteral("its name cannot be held exactly, so it could name another file")};
}

// The names of the --files-from list `source`, in order; what cannot be a file's name is
// left out.
void readList(Options& options, const QString& source) {
    QFile file(source);
#ifdef Q_OS_WIN
    if (source == u"-")
        _setmode(_fileno(stdin), _O_BINARY);
#endif
    const bool open = source == u"-" ? file.open(stdin, QIODevice::ReadOnly | QIODevice::Unbuffered)
                                     : file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    if (!open)
        throw UsageError{QStringLiteral("cannot read the list %1: %2")
                             .arg(PrintablePath(source), file.errorString())};
    const char separator = options.nullSeparated ? '\0' : '\n';
    const bool whole = readNameList(file, separator, [&](const QByteArray& name) {
        if (NameRoundTrips(name))
            options.paths << QFile::decodeName(name);
        else
            options.leftOut.push_back(unheld(EscapedName(name), PrintableName(name)));
    });
    if (!whole)
        options.leftOut.push_back(
            {source, QStringLiteral("--files-from ") + PrintablePath(source),
             QStringLiteral("name-too-long"),
             QStringLiteral("a name in it is longer than %1 bytes, the longest path the "
                            "system takes; the rest of the list is not read")
                 .arg(NameLimit)});
}

// The files of the --recursive folder `source`, as "Add All File(s) In Folder" adds them;
// what the scan leaves out is named on standard error.
void scanFolder(Options& options, const QString& source, FolderAccess& folders,
                StderrPrompts& prompts) {
    if (!IsFolder(source))
        throw UsageError{QStringLiteral("Folder does not exist: %1").arg(source)};
    // The folder as the browse dialog gives it: a root keeps its separator.
    QString chosen = source;
    while (chosen.size() > 1 && chosen.endsWith(Separator()))
        chosen.chop(1);
    ScanServices services{prompts, folders, [] {}};
    Trap trap(prompts, ModuleTag(QStringLiteral("Cli"), QStringLiteral("Recursive")));
    AddFilesInFolderTree(services, trap, chosen, options.extension,
                         [&](const QString& path) { options.paths << path; });
    for (const QString& name : services.unrepresentable)
        options.leftOut.push_back(unheld(name, PrintablePath(name)));
    for (const ScanSkip& left : std::as_const(services.skipped))
        prompts.printLine(QStringLiteral("left out of the scan: %1: %2")
                              .arg(PrintablePath(left.path), left.reason));
    options.scanLeftOut = options.scanLeftOut || !services.skipped.isEmpty();
}

// A job whose result would replace a file that a later job still has to read. (Nothing is
// replaced when only comparing.)
std::vector<bool> replacingUnread(const std::vector<Job>& jobs) {
    std::vector<std::string> sources;
    std::vector<std::string> outputs;
    sources.reserve(jobs.size());
    outputs.reserve(jobs.size());
    for (const Job& job : jobs) {
        sources.push_back(job.sourceStatus.exists ? job.sourceStatus.identity.toStdString()
                                                  : std::string());
        outputs.push_back(job.outputStatus.exists ? job.outputStatus.identity.toStdString()
                                                  : std::string());
    }
    return RowsReplacingUnreadFiles(sources, outputs);
}

} // namespace

void gather(Options& options, StderrPrompts& prompts) {
    CliPlatform platform;
    const std::shared_ptr<FolderAccess> folders = LocalFolderAccess(platform);
    for (const Source& source : options.sources) {
        switch (source.kind) {
        case Source::Kind::Path:
            options.paths << source.value;
            break;
        case Source::Kind::Unrepresentable:
            options.leftOut.push_back(unheld(source.value, source.shown));
            break;
        case Source::Kind::FilesFrom:
            readList(options, source.value);
            break;
        case Source::Kind::Recursive:
            scanFolder(options, source.value, *folders, prompts);
            break;
        }
    }
}

PathStatus statusOf(const QString& path) {
    PathStatus result;
    const FileStatus status = path.isEmpty() ? FileStatus() : FileStatus::Of(ToPath(path));
    result.folder = status.isFolder();
    result.regular = status.isRegular();
    result.size = result.regular ? qint64(status.size) : 0;
#ifdef Q_OS_UNIX
    if (status.exists()) {
        result.exists = true;
        result.identity = ToQString(status.id.text());
        return result;
    }
#else
    if (const QString identity = ToQString(PathIdentity(ToPath(path))); !identity.isEmpty()) {
        result.exists = true;
        result.identity = identity;
        return result;
    }
#endif
    result.identity = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return result;
}

JobList jobsOf(const Options& options, bool examine) {
    JobList list;
    list.leftOut = options.leftOut;
    std::vector<Job> jobs;
    jobs.reserve(size_t(options.paths.size()));
    for (const QString& path : options.paths) {
        PathStatus status = statusOf(path);
        if (status.folder) {
            list.leftOut.push_back({path, PrintablePath(path), QStringLiteral("folder"),
                                    QStringLiteral("it is a folder, not a file")});
            continue;
        }
        QString output = path;
        PathStatus outputStatus = status;
        if (!options.inPlace && !examine) {
            // Any length: a path past the window's limit is left to the engine, which leaves
            // it untouched as a file that cannot be read, and the run goes on.
            output = OutputPathFor(path, SaveChoice::ToFolder, options.outDir, NativePathStyle(),
                                   PathLength::AnyLength);
            outputStatus = statusOf(output);
        }
        jobs.push_back({path, output, std::move(status), std::move(outputStatus)});
    }
    const std::vector<bool> replacing =
        examine ? std::vector<bool>(jobs.size(), false) : replacingUnread(jobs);
    list.jobs.reserve(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!replacing[j])
            list.jobs.push_back(std::move(jobs[j]));
        else
            list.leftOut.push_back({jobs[j].source, PrintablePath(jobs[j].source),
                                    QStringLiteral("replaces-unread-file"),
                                    ToQString(ReplacesUnreadFileReason())});
    }
    return list;
}

std::vector<std::vector<size_t>> chainsOf(const std::vector<Job>& jobs, bool examine) {
    std::vector<std::vector<size_t>> chains;
    if (examine) {
        for (size_t j = 0; j < jobs.size(); ++j)
            chains.push_back({j});
        return chains;
    }
    std::vector<size_t> parent(jobs.size());
    std::iota(parent.begin(), parent.end(), size_t(0));
    const auto root = [&](size_t i) {
        while (parent[i] != i)
            i = parent[i] = parent[parent[i]];
        return i;
    };
    QHash<QString, size_t> owner;
    for (size_t i = 0; i < jobs.size(); ++i) {
        for (const QString& name : {jobs[i].sourceStatus.identity, jobs[i].outputStatus.identity}) {
            const auto found = owner.constFind(name);
            if (found == owner.cend())
                owner.insert(name, i);
            else
                parent[root(i)] = root(*found);
        }
    }
    std::map<size_t, size_t> chainOfRoot;
    for (size_t i = 0; i < jobs.size(); ++i) {
        const auto [it, added] = chainOfRoot.try_emplace(root(i), chains.size());
        if (added)
            chains.emplace_back();
        chains[it->second].push_back(i);
    }
    return chains;
}

} // namespace parvello::cli
