#include "cli/joblist.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "base/printabletext.h"
#include "base/separators.h"
#include "cli/names.h"
#include "cli/stderrprompts.h"
#include "filelist/folderaccess.h"
#include "filelist/foldertree.h"
#include "quotes/unreadsources.h"

#include <cerrno>
#include <functional>
#include <new>
#include <numeric>
#include <string_view>
#include <system_error>
#include <unordered_map>

#if defined(PARVELLO_OS_UNIX)
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#endif

namespace parvello::cli {

namespace {

// The longest name a list may hold: the system's limit on a path (on Windows 32767 UTF-16
// units, up to three bytes each in the list). A list that holds a longer stretch without a
// name's end (a device that gives zeros, say) is read no further.
#if defined(PARVELLO_OS_UNIX) && defined(PATH_MAX)
constexpr std::ptrdiff_t NameLimit = PATH_MAX;
#else
constexpr std::ptrdiff_t NameLimit = 3 * 32767;
#endif

// The location tag of --recursive's numbered steps, as its error lines name it.
constexpr char RecursiveLocation[] = "Qwellan2021/08/31.Cli.Recursive";

// A --files-from list, open for reading: a file, or standard input for "-".
class ListFile {
public:
    explicit ListFile(const std::string& source) {
        if (source == "-") {
#if defined(PARVELLO_OS_WINDOWS)
            _setmode(0, _O_BINARY);
#endif
            return;
        }
#if defined(PARVELLO_OS_WINDOWS)
        descriptor_ = ::_wopen(PathOfBytes(source).c_str(), _O_RDONLY | _O_BINARY);
#else
        descriptor_ = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
#endif
        if (descriptor_ < 0) {
            error_ = std::generic_category().message(errno);
            return;
        }
        struct stat status {};
        if (::fstat(descriptor_, &status) == 0 && S_ISDIR(status.st_mode)) {
            error_ = "file to open is a directory";
            close();
        }
    }
    ~ListFile() {
        close();
    }
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    // Why the list could not be opened ("" when it is open).
    const std::string& error() const {
        return error_;
    }
    // Up to size bytes; 0 at the end, negative on a failure.
    std::ptrdiff_t read(char* into, std::ptrdiff_t size) {
        for (;;) {
#if defined(PARVELLO_OS_WINDOWS)
            const std::ptrdiff_t got = ::_read(descriptor_, into, unsigned(size));
#else
            const std::ptrdiff_t got = ::read(descriptor_, into, size_t(size));
#endif
            if (got >= 0 || errno != EINTR)
                return got;
        }
    }

private:
    void close() {
        if (descriptor_ > 0)
#if defined(PARVELLO_OS_WINDOWS)
            ::_close(descriptor_);
#else
            ::close(descriptor_);
#endif
        descriptor_ = -1;
    }

    int descriptor_ = 0; // standard input unless opened
    std::string error_;
};

// The names of a --files-from list, a block at a time, each handed to `take` as its bytes.
// A name longer than NameLimit is no file's name: reading stops there, so a list without
// ends of names (zeros from a device, say) never fills the memory. False then.
bool readNameList(ListFile& list, char separator,
                  const std::function<void(std::string_view)>& take) {
    std::string name;
    std::string block(1 << 16, '\0');
    for (std::ptrdiff_t got; (got = list.read(block.data(), std::ptrdiff_t(block.size()))) > 0;) {
        const std::string_view filled(block.data(), size_t(got));
        for (size_t from = 0; from < filled.size();) {
            const size_t end = filled.find(separator, from);
            name.append(filled.substr(from, (end == filled.npos ? filled.size() : end) - from));
            if (std::ptrdiff_t(name.size()) >= NameLimit)
                return false;
            if (end == filled.npos)
                break;
            if (!name.empty())
                take(std::exchange(name, std::string()));
            from = end + 1;
        }
    }
    if (!name.empty())
        take(name);
    return true;
}

// The names of the --files-from list `source`, in order, each taken as the bytes it is.
void readList(Options& options, const std::string& source) {
    ListFile file(source);
    if (!file.error().empty())
        throw UsageError{"cannot read the list " + PrintableName(source) + ": " + file.error()};
    const char separator = options.nullSeparated ? '\0' : '\n';
    const bool whole = readNameList(file, separator, [&](std::string_view name) {
        options.paths.push_back(PathOfBytes(name));
    });
    if (!whole)
        options.leftOut.push_back(
            {JsonName(PathOfBytes(source)), "--files-from " + PrintableName(source),
             "name-too-long",
             "a name in it is longer than " + std::to_string(NameLimit) +
                 " bytes, the longest path the system takes; the rest of the list is not read"});
}

// A failed step's failure as the window's box describes it.
std::string describe(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::bad_alloc&) {
        return "Out of memory";
    } catch (const std::exception& e) { // a failed listing's what() is the box's own text
        return e.what();
    } catch (...) {
        return "Unknown failure";
    }
}

// The files of the --recursive folder `source`, as "Add All File(s) In Folder" adds them;
// what the scan leaves out and the failures of its steps are named on standard error.
void scanFolder(Options& options, const std::string& source, FolderAccess& folders,
                StderrPrompts& prompts) {
    if (!FileStatus::Of(PathOfBytes(source)).isFolder())
        throw UsageError{"Folder does not exist: " + source};
    // The folder as the browse dialog gives it: a root keeps its separator.
    std::filesystem::path::string_type chosen = PathOfBytes(source).native();
    const auto separator = SeparatorOf<std::filesystem::path::value_type>(folders.style());
    while (chosen.size() > 1 && chosen.back() == separator)
        chosen.pop_back();
    FolderScan scan{folders};
    scan.failed = [&prompts](const ScanFailure& failure) {
        prompts.stepFailed(describe(failure.failure), ListSubfoldersLocation, failure.line);
    };
    FolderTree tree{scan};
    tree.failed = [&prompts](const ScanFailure& failure) {
        prompts.stepFailed(describe(failure.failure), RecursiveLocation, failure.line);
    };
    AddFilesInFolderTree(tree, chosen, Utf16Of(options.extension),
                         [&](const std::filesystem::path& path) { options.paths.push_back(path); });
    for (const ScanLeftOut& left : scan.skipped)
        prompts.printLine("left out of the scan: " +
                          PrintablePath(CollapseSeparators<std::filesystem::path::value_type>(
                              left.path.native(), folders.style())) +
                          ": " + left.reason);
    options.scanLeftOut = options.scanLeftOut || !scan.skipped.empty();
}

// A job whose result would replace a file that a later job still has to read. (Nothing is
// replaced when only comparing.)
std::vector<bool> replacingUnread(const std::vector<Job>& jobs) {
    std::vector<std::string> sources;
    std::vector<std::string> outputs;
    sources.reserve(jobs.size());
    outputs.reserve(jobs.size());
    for (const Job& job : jobs) {
        sources.push_back(job.sourceStatus.exists ? job.sourceStatus.identity : std::string());
        outputs.push_back(job.outputStatus.exists ? job.outputStatus.identity : std::string());
    }
    return RowsReplacingUnreadFiles(sources, outputs);
}

} // namespace

void gather(Options& options, StderrPrompts& prompts) {
    const std::shared_ptr<FolderAccess> folders = LocalFolderAccess();
    for (const Source& source : options.sources) {
        switch (source.kind) {
        case Source::Kind::Path:
            options.paths.push_back(PathOfBytes(source.value));
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

PathStatus statusOf(const std::filesystem::path& path) {
    PathStatus result;
    const FileStatus status = path.empty() ? FileStatus() : FileStatus::Of(path);
    result.folder = status.isFolder();
    result.regular = status.isRegular();
    result.size = result.regular ? std::int64_t(status.size) : 0;
#if defined(PARVELLO_OS_UNIX)
    if (status.exists()) {
        result.exists = true;
        result.identity = status.id.text();
        return result;
    }
#else
    if (std::string identity = PathIdentity(path); !identity.empty()) {
        result.exists = true;
        result.identity = std::move(identity);
        return result;
    }
#endif
    // A name with nothing there stands for itself, made absolute and cleaned.
    std::error_code error;
    std::string clean = NameBytes(std::filesystem::absolute(path, error).lexically_normal());
    while (clean.size() > 1 && (clean.back() == '/' || clean.back() == '\\'))
        clean.pop_back();
    result.identity = std::move(clean);
    return result;
}

JobList jobsOf(std::vector<std::filesystem::path> paths, const Options& options, bool examine) {
    using Char = std::filesystem::path::value_type;
    JobList list;
    list.leftOut = options.leftOut;
    std::vector<Job> jobs;
    jobs.reserve(paths.size());
    for (std::filesystem::path& path : paths) {
        PathStatus status = statusOf(path);
        if (status.folder) {
            list.leftOut.push_back(
                {JsonName(path), PrintablePath(path), "folder", "it is a folder, not a file"});
            continue;
        }
        // Elsewhere, the --out folder, a separator and the source's name, any length: a path
        // past the window's limit is left to the engine, which leaves it untouched as a file
        // that cannot be read, and the run goes on.
        const bool elsewhere = !options.inPlace && !examine;
        std::filesystem::path output =
            elsewhere ? std::filesystem::path(PathInFolder<Char>(options.outDir.native(),
                                                                 path.native(), NativePathStyle()))
                      : path;
        PathStatus outputStatus = elsewhere ? statusOf(output) : status;
        jobs.push_back(
            {std::move(path), std::move(output), std::move(status), std::move(outputStatus)});
    }
    // In place each result replaces only the file its own job reads, and reads first.
    const std::vector<bool> replacing =
        examine || options.inPlace ? std::vector<bool>(jobs.size(), false) : replacingUnread(jobs);
    list.jobs.reserve(jobs.size());
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!replacing[j])
            list.jobs.push_back(std::move(jobs[j]));
        else
            list.leftOut.push_back({JsonName(jobs[j].source), PrintablePath(jobs[j].source),
                                    "replaces-unread-file", ReplacesUnreadFileReason()});
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
    // The first job of each identity, looked up by views of the jobs' own identities.
    std::unordered_map<std::string_view, size_t> owner;
    owner.reserve(2 * jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        for (const std::string* name :
             {&jobs[i].sourceStatus.identity, &jobs[i].outputStatus.identity}) {
            const auto [found, added] = owner.try_emplace(*name, i);
            if (!added)
                parent[root(i)] = root(found->second);
        }
    }
    // The chains in the order of their first jobs.
    constexpr size_t None = size_t(-1);
    std::vector<size_t> chainOfRoot(jobs.size(), None);
    for (size_t i = 0; i < jobs.size(); ++i) {
        size_t& chain = chainOfRoot[root(i)];
        if (chain == None) {
            chain = chains.size();
            chains.emplace_back();
        }
        chains[chain].push_back(i);
    }
    return chains;
}

} // namespace parvello::cli
