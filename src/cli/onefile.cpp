#include "cli/onefile.h"

#include "base/failure.h"
#include "base/printablename.h"
#include "base/qtpaths.h"
#include "cli/progress.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "cli/unifieddiff.h"
#include "quotes/fileengine.h"
#include "textio/reading.h"

#include <QFile>
#include <QFileInfo>

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace parvello::cli {

namespace {

// Why a file was left untouched, told in its one line in the words of problemText.
FileReport withProblemText(const QString& source, const QString& output, FileReport report) {
    if (!report.succeeded())
        report.reason = problemText(source, output, report).toStdString();
    return report;
}

// The file handed to the engine, for the modes that compare and for the filter (a written
// job goes through writeOne).
FileReport processOne(const QString& source, const QString& output, const QuoteReplacer& rule,
                      const FileHooks& hooks = {}, const FileOptions& options = {}) {
    return withProblemText(source, output,
                           ProcessFile(ToPath(source), ToPath(output), rule, hooks, options));
}

// What the engine found in a file of bytes bytes, as far as it read it to its end.
SourceFacts factsOf(const FileReport& report, qint64 bytes) {
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
std::optional<bool> sameBytes(const QString& a, const QString& b) {
    QFile first(a);
    QFile second(b);
    if (!first.open(QIODevice::ReadOnly) || !second.open(QIODevice::ReadOnly))
        return std::nullopt;
    constexpr qint64 Block = 1 << 18;
    QByteArray x(Block, Qt::Uninitialized);
    QByteArray y(Block, Qt::Uninitialized);
    for (;;) {
        const qint64 gotX = first.read(x.data(), Block);
        const qint64 gotY = second.read(y.data(), Block);
        if (gotX < 0 || gotY < 0)
            return std::nullopt;
        if (gotX != gotY || std::memcmp(x.constData(), y.constData(), size_t(gotX)) != 0)
            return false;
        if (gotX == 0)
            return true;
    }
}

// Copies the file to standard output a block at a time, up to limit bytes, unless standard
// output fails.
void fileToStdout(const QString& path, qint64 limit = std::numeric_limits<qint64>::max()) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 got;
         limit > 0 && (got = file.read(block.data(), std::min<qint64>(block.size(), limit))) > 0;
         limit -= got)
        if (!WriteStdout(block.first(got)))
            return;
}

// The engine's hooks for one job: its bytes read move the progress line.
struct JobHooks {
    JobHooks(const FileWork& work, const Job& job) : progress(work.progress), job(job) {
        if (progress && progress->shown())
            hooks.afterBlock = [this](qint64 bytesRead) { moveTo(bytesRead); };
    }
    ~JobHooks() {
        if (progress)
            progress->advance(job.sourceStatus.size - reported, job.source);
    }
    JobHooks(const JobHooks&) = delete;
    JobHooks& operator=(const JobHooks&) = delete;

    void moveTo(qint64 bytesRead) {
        const qint64 now = std::min(bytesRead, job.sourceStatus.size);
        if (now > reported)
            progress->advance(now - std::exchange(reported, now), job.source);
    }

    RunProgress* progress;
    const Job& job;
    qint64 reported = 0;
    FileHooks hooks;
};

// A file the engine finished with: counted for the summary and, with --verbose, named with
// its outcome and its quotes.
void tellOutcome(const FileWork& work, const Job& job, const FileReport& report) {
    QString outcome;
    switch (report.outcome) {
    case FileOutcome::Written:
        ++work.tally.written;
        outcome = QStringLiteral("written");
        break;
    case FileOutcome::Unchanged:
        ++work.tally.unchanged;
        outcome = QStringLiteral("unchanged");
        break;
    case FileOutcome::WouldChange:
        outcome = QStringLiteral("would change");
        break;
    default:
        return;
    }
    if (report.outcome != FileOutcome::Unchanged && work.options.mode == Mode::Write)
        work.tally.quotesChanged += report.quotesChanged;
    if (work.options.verbose)
        work.prompts.printLine(
            QStringLiteral("%1: %2, %3 quote(s)")
                .arg(PrintablePath(job.source), outcome, GroupedNumber(report.quotesChanged)));
}

void leftUntouched(const FileWork& work, const Job& job, const FileReport& report) {
    ++work.tally.untouched;
    work.prompts.printLine(PrintablePath(job.source) + QStringLiteral(": ") +
                           ToQString(report.reason));
}

// --out or --in-place: the file's report is told, and its text for standard output given,
// once its result has replaced its output (through group: when the group commits).
void writeOne(const FileWork& work, const Job& job, char& resultMade, CommitGroup* group,
              const std::function<void(QByteArray)>& deliver) {
    const bool json = work.options.json;
    // The size before the file is replaced by its result.
    const qint64 bytesIn = json && job.sourceStatus.regular ? job.sourceStatus.size : 0;
    const auto told = [&work, &job, &resultMade, json, bytesIn, deliver](const FileReport& done) {
        const FileReport report = withProblemText(job.source, job.output, done);
        tellOutcome(work, job, report);
        if (!report.succeeded())
            leftUntouched(work, job, report);
        else
            resultMade = 1;
        if (!json) {
            deliver(QByteArray());
            return;
        }
        std::optional<SourceFacts> facts;
        if (job.sourceStatus.regular)
            facts = factsOf(report, bytesIn);
        std::optional<qint64> bytesOut;
        if (report.succeeded())
            bytesOut = report.resultSize;
        deliver(jsonLine(job.source, outcomeName(report.outcome), facts ? &*facts : nullptr,
                         bytesOut, ToQString(report.reason)));
    };
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    options.backupSuffix = ToPath(work.options.backupSuffix);
    const JobHooks hooks(work, job);
    if (group)
        group->process(ToPath(job.source), ToPath(job.output), work.rule, hooks.hooks, options,
                       told);
    else
        told(ProcessFile(ToPath(job.source), ToPath(job.output), work.rule, hooks.hooks, options));
}

// What --check prints for a file whose result differs from what it holds.
QByteArray changeText(const FileWork& work, const Job& job, qint64 quotes) {
    const QString shown = PrintablePath(job.source);
    const QString line =
        quotes > 0 ? QStringLiteral("%1: %2 quote(s) would change").arg(shown).arg(quotes)
                   : QStringLiteral("%1: no quotes, but its line ends or encoding would change")
                         .arg(shown);
    if (work.options.json) {
        work.prompts.printLine(line);
        return QByteArray();
    }
    return line.toLocal8Bit() + '\n';
}

// --diff: the diff of the file with its result, found as both are read. It is held while it
// is short, so that files diffed side by side keep their order cheaply; once it is long, or
// the diffs held for later files add up to too much, it waits until every file before it has
// been written and goes straight to standard output, so memory stays bounded whatever the
// size and number of the files. Returns what is held.
QByteArray writeDiff(const FileWork& work, const Job& job, size_t index, const SourceFacts& facts,
                     const QString& resultPath) {
    constexpr qsizetype HoldUpTo = 1 << 20;
    constexpr qint64 AllHeldUpTo = 16 << 20;
    QByteArray held;
    bool direct = false;
    const auto write = [&](QByteArrayView bytes) {
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
#ifdef Q_OS_WIN
    const bool terminal = _isatty(_fileno(stdout)) != 0;
#else
    const bool terminal = isatty(STDOUT_FILENO) != 0;
#endif
    const bool colour = DiffInColour(work.options.colour, terminal, qgetenv("NO_COLOR"));
    WriteFileDiff(PrintablePath(job.source), job.source, facts.format, resultPath, facts.writtenAs,
                  colour, write);
    return held;
}

// --check: the result is made and compared with the file as it comes, and written nowhere.
// --diff: the result is made in the scratch folder, compared with the file, shown as a diff
// found as both are read, and removed.
QByteArray compareOne(const FileWork& work, const Job& job, size_t index) {
    const bool diff = work.options.mode == Mode::Diff;
    const qint64 bytesIn = job.sourceStatus.size;
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    options.compareOnly = !diff;
    const QString resultPath = diff ? work.scratch->filePath(QString::number(index)) : job.source;
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
    QByteArray shown;
    if (report.succeeded() && diff && differs) {
        try {
            shown = writeDiff(work, job, index, facts, resultPath);
        } catch (const Failure& failure) { // read again, the file or its result broke off
            report = {FileOutcome::NotRead, failure.description().toStdString()};
        }
    }
    if (diff)
        QFile::remove(resultPath);
    if (!report.succeeded()) {
        leftUntouched(work, job, report);
        return work.options.json ? jsonLine(job.source, outcomeName(report.outcome), nullptr,
                                            std::nullopt, ToQString(report.reason))
                                 : QByteArray();
    }
    FileReport compared(differs ? FileOutcome::WouldChange : FileOutcome::Unchanged, {});
    compared.quotesChanged = facts.quotes;
    tellOutcome(work, job, compared);
    QByteArray text;
    if (differs) {
        ++work.tally.wouldChange;
        work.tally.quotesChanged += facts.quotes;
        text = diff ? shown : changeText(work, job, facts.quotes);
    }
    if (work.options.json)
        text = jsonLine(job.source,
                        differs ? QStringLiteral("would-change") : QStringLiteral("unchanged"),
                        &facts, report.resultSize, {});
    return text;
}

} // namespace

void processJob(const FileWork& work, const Job& job, size_t index, char& resultMade,
                CommitGroup* group, const std::function<void(QByteArray)>& deliver) {
    try {
        const bool compare = work.options.mode == Mode::Check || work.options.mode == Mode::Diff;
        if (compare)
            deliver(compareOne(work, job, index));
        else
            writeOne(work, job, resultMade, group, deliver);
    } catch (const std::exception& failure) {
        ++work.tally.untouched;
        work.prompts.printLine(
            QStringLiteral("%1: cannot process: %2")
                .arg(PrintablePath(job.source), QString::fromLocal8Bit(failure.what())));
        deliver(QByteArray());
    }
}

// Standard input through the engine to standard output. The text goes through a private
// temporary folder, a block at a time, so it takes exactly the road a file would and memory
// does not grow with it; input the engine leaves untouched is copied through unchanged.
// The folder goes when the run ends, whether it ends here or by a signal (ScratchFolder).
int runFilter(const QuoteReplacer& rule, StderrPrompts& prompts, LineEnds lineEnds) {
#ifdef Q_OS_WIN
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    ScratchFolder scratch;
    const QString in = scratch.filePath(QStringLiteral("standard-input"));
    const QString out = scratch.filePath(QStringLiteral("standard-output"));
    QString reason = QStringLiteral("no temporary folder could be made");
    // The input as far as it was kept, and a block that could not be kept after it.
    qint64 kept = 0;
    QByteArray notKept;
    bool whole = false;
    char buffer[65536];
    if (scratch.isValid()) {
        QFile file(in);
        whole = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        for (size_t n; whole && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            if (file.write(buffer, qint64(n)) == qint64(n)) {
                kept += qint64(n);
            } else {
                notKept = QByteArray(buffer, qsizetype(n));
                whole = false;
            }
        }
        whole = whole && std::ferror(stdin) == 0;
        file.close();
        if (!whole)
            reason = QStringLiteral("it could not be kept in a temporary file");
    }
    if (whole) {
        FileOptions options;
        options.lineEnds = lineEnds;
        const FileReport report = processOne(in, out, rule, {}, options);
        if (report.succeeded() && QFile::exists(out)) {
            fileToStdout(out);
            return ExitAllWritten;
        }
        reason = ToQString(report.reason);
    }
    fileToStdout(in, kept);
    WriteStdout(notKept);
    for (size_t n; !StdoutFailed() && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        WriteStdout(QByteArrayView(buffer, qsizetype(n)));
    prompts.printLine(QStringLiteral("-: %1; copied to standard output unchanged").arg(reason));
    return ExitSomeUntouched;
}

} // namespace parvello::cli
