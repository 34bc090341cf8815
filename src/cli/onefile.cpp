#include "cli/onefile.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "cli/names.h"
#include "cli/progress.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "cli/unifieddiff.h"
#include "quotes/fileengine.h"
#include "textio/reading.h"
#include "textio/readonlyfile.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <system_error>

#if defined(PARVELLO_OS_WINDOWS)
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace parvello::cli {

namespace {

// Why a file was left untouched, told in its one line in the words of problemText.
FileReport withProblemText(const std::filesystem::path& source, const std::filesystem::path& output,
                           FileReport report) {
    if (!report.succeeded())
        report.reason = problemText(source, output, report);
    return report;
}

// The file handed to the engine, for the modes that compare and for the filter (a written
// job goes through writeOne).
FileReport processOne(const std::filesystem::path& source, const std::filesystem::path& output,
                      const QuoteReplacer& rule, const FileHooks& hooks = {},
                      const FileOptions& options = {}) {
    return withProblemText(source, output, ProcessFile(source, output, rule, hooks, options));
}

// What the engine found in a file of bytes bytes, as far as it read it to its end.
SourceFacts factsOf(const FileReport& report, std::int64_t bytes) {
    SourceFacts facts;
    facts.bytes = bytes;
    facts.read = report.readWhole;
    facts.quotes = report.quotesChanged;
    facts.format = report.formatRead;
    facts.writtenAs = report.encodingWritten;
    return facts;
}

// Whether two files hold the same bytes, compared a block at a time (nullopt when either
// cannot be read).
std::optional<bool> sameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    ReadOnlyFile first(a);
    ReadOnlyFile second(b);
    if (!first.open() || !second.open())
        return std::nullopt;
    constexpr std::int64_t Block = 1 << 18;
    const auto x = std::make_unique_for_overwrite<char[]>(size_t(Block));
    const auto y = std::make_unique_for_overwrite<char[]>(size_t(Block));
    for (;;) {
        const std::int64_t gotX = first.read(x.get(), Block);
        const std::int64_t gotY = second.read(y.get(), Block);
        if (gotX < 0 || gotY < 0)
            return std::nullopt;
        if (gotX != gotY || std::memcmp(x.get(), y.get(), size_t(gotX)) != 0)
            return false;
        if (gotX == 0)
            return true;
    }
}

// Copies the file to standard output a block at a time, up to limit bytes, unless standard
// output fails.
void fileToStdout(const std::filesystem::path& path,
                  std::int64_t limit = std::numeric_limits<std::int64_t>::max()) {
    ReadOnlyFile file(path);
    if (!file.open())
        return;
    constexpr std::int64_t Block = 1 << 16;
    const auto block = std::make_unique_for_overwrite<char[]>(size_t(Block));
    for (std::int64_t got; limit > 0 && (got = file.read(block.get(), std::min(Block, limit))) > 0;
         limit -= got)
        if (!WriteStdout(std::string_view(block.get(), size_t(got))))
            return;
}

// A new file written unbuffered (standard input kept for the filter).
class NewFile {
public:
    explicit NewFile(const std::filesystem::path& path) {
#if defined(PARVELLO_OS_WINDOWS)
        descriptor_ = ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
                               _S_IREAD | _S_IWRITE);
#else
        descriptor_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
#endif
    }
    ~NewFile() {
        close();
    }
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    bool isOpen() const {
        return descriptor_ >= 0;
    }
    // Whether all the bytes were written.
    bool write(const char* bytes, size_t size) {
        while (size > 0) {
#if defined(PARVELLO_OS_WINDOWS)
            const auto written = std::ptrdiff_t(::_write(descriptor_, bytes, unsigned(size)));
#else
            const auto written = std::ptrdiff_t(::write(descriptor_, bytes, size));
#endif
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            bytes += written;
            size -= size_t(written);
        }
        return true;
    }
    void close() {
        if (descriptor_ >= 0)
#if defined(PARVELLO_OS_WINDOWS)
            ::_close(descriptor_);
#else
            ::close(descriptor_);
#endif
        descriptor_ = -1;
    }

private:
    int descriptor_ = -1;
};

// The engine's hooks for one job: its bytes read move the progress line.
struct JobHooks {
    JobHooks(const FileWork& work, const Job& job) : progress(work.progress), job(job) {
        if (progress && progress->shown())
            hooks.afterBlock = [this](std::int64_t bytesRead) { moveTo(bytesRead); };
    }
    ~JobHooks() {
        if (progress)
            progress->advance(job.sourceStatus.size - reported, job.source);
    }
    JobHooks(const JobHooks&) = delete;
    JobHooks& operator=(const JobHooks&) = delete;

    void moveTo(std::int64_t bytesRead) {
        const std::int64_t now = std::min(bytesRead, job.sourceStatus.size);
        if (now > reported)
            progress->advance(now - std::exchange(reported, now), job.source);
    }

    RunProgress* progress;
    const Job& job;
    std::int64_t reported = 0;
    FileHooks hooks;
};

// A file the engine finished with: counted for the summary and, with --verbose, named with
// its outcome and its quotes.
void tellOutcome(const FileWork& work, const Job& job, const FileReport& report) {
    const char* outcome = nullptr;
    switch (report.outcome) {
    case FileOutcome::Written:
        ++work.tally.written;
        outcome = "written";
        break;
    case FileOutcome::Unchanged:
        ++work.tally.unchanged;
        outcome = "unchanged";
        break;
    case FileOutcome::WouldChange:
        outcome = "would change";
        break;
    default:
        return;
    }
    if (report.outcome != FileOutcome::Unchanged && work.options.mode == Mode::Write)
        work.tally.quotesChanged += report.quotesChanged;
    if (work.options.verbose)
        work.prompts.printLine(PrintablePath(job.source) + ": " + outcome + ", " +
                               GroupedNumber(report.quotesChanged) + " quote(s)");
}

void leftUntouched(const FileWork& work, const Job& job, const FileReport& report) {
    ++work.tally.untouched;
    work.prompts.printLine(PrintablePath(job.source) + ": " + report.reason);
}

// --out or --in-place: the file's report is told, and its text for standard output given,
// once its result has replaced its output (through group: when the group commits).
void writeOne(const FileWork& work, const Job& job, char& resultMade, CommitGroup* group,
              const std::function<void(std::string)>& deliver) {
    const bool json = work.options.json;
    // The size before the file is replaced by its result.
    const std::int64_t bytesIn = json && job.sourceStatus.regular ? job.sourceStatus.size : 0;
    const auto told = [&work, &job, &resultMade, json, bytesIn, deliver](const FileReport& done) {
        const FileReport report = withProblemText(job.source, job.output, done);
        tellOutcome(work, job, report);
        if (!report.succeeded())
            leftUntouched(work, job, report);
        else
            resultMade = 1;
        if (!json) {
            deliver(std::string());
            return;
        }
        std::optional<SourceFacts> facts;
        if (job.sourceStatus.regular)
            facts = factsOf(report, bytesIn);
        std::optional<std::int64_t> bytesOut;
        if (report.succeeded())
            bytesOut = report.resultSize;
        deliver(jsonLine(JsonName(job.source), outcomeName(report.outcome),
                         facts ? &*facts : nullptr, bytesOut, report.reason));
    };
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    options.backupSuffix = PathOfBytes(work.options.backupSuffix);
    const JobHooks hooks(work, job);
    if (group)
        group->process(job.source, job.output, work.rule, hooks.hooks, options, told);
    else
        told(ProcessFile(job.source, job.output, work.rule, hooks.hooks, options));
}

// What --check prints for a file whose result differs from what it holds.
std::string changeText(const FileWork& work, const Job& job, std::int64_t quotes) {
    const std::string shown = PrintablePath(job.source);
    const std::string line =
        quotes > 0 ? shown + ": " + std::to_string(quotes) + " quote(s) would change"
                   : shown + ": no quotes, but its line ends or encoding would change";
    if (work.options.json) {
        work.prompts.printLine(line);
        return std::string();
    }
    return line + '\n';
}

// --diff: the diff of the file with its result, found as both are read. It is held while it
// is short, so that files diffed side by side keep their order cheaply; once it is long, or
// the diffs held for later files add up to too much, it waits until every file before it has
// been written and goes straight to standard output, so memory stays bounded whatever the
// size and number of the files. Returns what is held.
std::string writeDiff(const FileWork& work, const Job& job, size_t index, const SourceFacts& facts,
                      const std::filesystem::path& resultPath) {
    constexpr size_t HoldUpTo = 1 << 20;
    constexpr std::int64_t AllHeldUpTo = 16 << 20;
    std::string held;
    bool direct = false;
    const auto write = [&](std::string_view bytes) {
        if (direct)
            return WriteStdout(bytes);
        held += bytes;
        if (!work.order || (held.size() < HoldUpTo && work.order->heldBytes() < AllHeldUpTo))
            return true;
        if (!work.order->waitTurn(index))
            return false;
        direct = true;
        const bool written = WriteStdout(held);
        held.clear();
        return written;
    };
    const char* noColor = std::getenv("NO_COLOR");
    const bool colour =
        DiffInColour(work.options.colour, StdoutIsTerminal(), noColor ? noColor : "");
    WriteFileDiff(PrintablePath(job.source), job.source, facts.format, resultPath, facts.writtenAs,
                  colour, write);
    return held;
}

// --check: the result is made and compared with the file as it comes, and written nowhere.
// --diff: the result is made in the scratch folder, compared with the file, shown as a diff
// found as both are read, and removed.
std::string compareOne(const FileWork& work, const Job& job, size_t index) {
    const bool diff = work.options.mode == Mode::Diff;
    const std::int64_t bytesIn = job.sourceStatus.size;
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    options.compareOnly = !diff;
    const std::filesystem::path resultPath =
        diff ? work.scratch->filePath(std::to_string(index)) : job.source;
    const JobHooks hooks(work, job);
    FileReport report = processOne(job.source, resultPath, work.rule, hooks.hooks, options);
    bool differs = report.outcome == FileOutcome::WouldChange;
    if (diff && report.succeeded()) {
        const std::optional<bool> same = sameBytes(resultPath, job.source);
        if (!same)
            report = {FileOutcome::Changed, "it changed while it was being processed"};
        differs = same && !*same;
    }
    const SourceFacts facts = factsOf(report, bytesIn);
    std::string shown;
    if (report.succeeded() && diff && differs) {
        try {
            shown = writeDiff(work, job, index, facts, resultPath);
        } catch (const DiffFailure& failure) { // read again, the file or its result broke off
            report = {FileOutcome::NotRead, failure.what()};
        }
    }
    if (diff) {
        std::error_code error;
        std::filesystem::remove(resultPath, error);
    }
    if (!report.succeeded()) {
        leftUntouched(work, job, report);
        return work.options.json ? jsonLine(JsonName(job.source), outcomeName(report.outcome),
                                            nullptr, std::nullopt, report.reason)
                                 : std::string();
    }
    FileReport compared(differs ? FileOutcome::WouldChange : FileOutcome::Unchanged, {});
    compared.quotesChanged = facts.quotes;
    tellOutcome(work, job, compared);
    std::string text;
    if (differs) {
        ++work.tally.wouldChange;
        work.tally.quotesChanged += facts.quotes;
        text = diff ? std::move(shown) : changeText(work, job, facts.quotes);
    }
    if (work.options.json)
        text = jsonLine(JsonName(job.source), differs ? "would-change" : "unchanged", &facts,
                        report.resultSize, {});
    return text;
}

} // namespace

void processJob(const FileWork& work, const Job& job, size_t index, char& resultMade,
                CommitGroup* group, const std::function<void(std::string)>& deliver) {
    try {
        const bool compare = work.options.mode == Mode::Check || work.options.mode == Mode::Diff;
        if (compare)
            deliver(compareOne(work, job, index));
        else
            writeOne(work, job, resultMade, group, deliver);
    } catch (const std::exception& failure) {
        ++work.tally.untouched;
        work.prompts.printLine(PrintablePath(job.source) + ": cannot process: " + failure.what());
        deliver(std::string());
    }
}

// Standard input through the engine to standard output. The text goes through a private
// temporary folder, a block at a time, so it takes exactly the road a file would and memory
// does not grow with it; input the engine leaves untouched is copied through unchanged.
// The folder goes when the run ends, whether it ends here or by a signal (ScratchFolder).
int runFilter(const QuoteReplacer& rule, StderrPrompts& prompts, LineEnds lineEnds) {
#if defined(PARVELLO_OS_WINDOWS)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    ScratchFolder scratch;
    const std::filesystem::path in = scratch.filePath("standard-input");
    const std::filesystem::path out = scratch.filePath("standard-output");
    std::string reason = "no temporary folder could be made";
    // The input as far as it was kept, and a block that could not be kept after it.
    std::int64_t kept = 0;
    std::string notKept;
    bool whole = false;
    char buffer[65536];
    if (scratch.isValid()) {
        NewFile file(in);
        whole = file.isOpen();
        for (size_t n; whole && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            if (file.write(buffer, n)) {
                kept += std::int64_t(n);
            } else {
                notKept.assign(buffer, n);
                whole = false;
            }
        }
        whole = whole && std::ferror(stdin) == 0;
        file.close();
        if (!whole)
            reason = "it could not be kept in a temporary file";
    }
    if (whole) {
        FileOptions options;
        options.lineEnds = lineEnds;
        const FileReport report = processOne(in, out, rule, {}, options);
        if (report.succeeded() && FileStatus::Of(out).exists()) {
            fileToStdout(out);
            return ExitAllWritten;
        }
        reason = report.reason;
    }
    fileToStdout(in, kept);
    WriteStdout(notKept);
    for (size_t n; !StdoutFailed() && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        WriteStdout(std::string_view(buffer, n));
    prompts.printLine("-: " + reason + "; copied to standard output unchanged");
    return ExitSomeUntouched;
}

} // namespace parvello::cli
