#include "cli/onefile.h"

#include "base/printablename.h"
#include "cli/progress.h"
#include "cli/scratchfolder.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "cli/unifieddiff.h"
#include "quotes/fileengine.h"
#include "textio/codepage.h"
#include "textio/reading.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>

#ifdef Q_OS_WIN
#include <fcntl.h>
#include <io.h>
#endif

namespace parvello::cli {

namespace {

// Why a file was left untouched, told in its one line in the words of problemText.
FileReport withProblemText(const QString& source, const QString& output, FileReport report) {
    if (!report.succeeded())
        report.reason = problemText(source, output, report);
    return report;
}

// The file handed to the engine, for the modes that compare and for the filter (a written
// job goes through writeOne).
FileReport processOne(const QString& source, const QString& output, const QuoteReplacer& rule,
                      const FileHooks& hooks = {}, const FileOptions& options = {}) {
    return withProblemText(source, output, ProcessFile(source, output, rule, hooks, options));
}

SourceFacts factsOf(const QString& path, const QuoteReplacer& rule) {
    SourceFacts facts;
    facts.bytes = QFileInfo(path).size();
    const std::array<char16_t, 3>& family = rule.family();
    std::array<bool, 3> changes{};
    for (size_t q = 0; q < 3; ++q)
        changes[q] = rule.result(int(q)) != QString(QChar(family[q]));
    SourceReader read(path, false);
    qint64 quotes = 0;
    for (SourceBlocks::Next next = read.next(); next != SourceBlocks::Next::End;
         next = read.next()) {
        if (next == SourceBlocks::Next::NotText)
            return facts;
        if (next == SourceBlocks::Next::Restart) { // read again in the code page
            quotes = 0;
            continue;
        }
        for (const QChar c : read.blocks().units())
            for (size_t q = 0; q < 3; ++q)
                quotes += c.unicode() == family[q] && changes[q];
    }
    if (read.failed())
        return facts;
    facts.read = true;
    facts.quotes = quotes;
    facts.format = read.blocks().format();
    facts.writtenAs = OutputEncodingFor(facts.format);
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

// The result's bytes as text, in the encoding the engine wrote them in.
QString decodeResult(const QByteArray& bytes, OutputEncoding encoding) {
    switch (encoding) {
    case OutputEncoding::CodePage: {
        QString text(bytes.size(), Qt::Uninitialized);
        CodePage::ansi().decode(bytes.constData(), bytes.size(),
                                reinterpret_cast<char16_t*>(text.data()));
        return text;
    }
    case OutputEncoding::Utf8:
        return QString::fromUtf8(bytes);
    case OutputEncoding::Utf8WithMark:
        return QString::fromUtf8(bytes.mid(3));
    case OutputEncoding::Utf16LE:
        return QStringDecoder(QStringConverter::Utf16LE)(bytes.mid(2));
    }
    return {};
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
    work.prompts.printLine(PrintablePath(job.source) + QStringLiteral(": ") + report.reason);
}

// --out or --in-place: the file's report is told, and its text for standard output given,
// once its result has replaced its output (through group: when the group commits).
void writeOne(const FileWork& work, const Job& job, char& resultMade, CommitGroup* group,
              const std::function<void(QByteArray)>& deliver) {
    const bool json = work.options.json;
    std::optional<SourceFacts> facts;
    if (json && job.sourceStatus.regular)
        facts = factsOf(job.source, work.rule);
    const auto told = [&work, &job, &resultMade, json, facts, deliver](const FileReport& done) {
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
        std::optional<qint64> bytesOut;
        if (report.succeeded())
            bytesOut = QFileInfo(job.output).size();
        deliver(jsonLine(job.source, outcomeName(report.outcome), facts ? &*facts : nullptr,
                         bytesOut, report.reason));
    };
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    options.backupSuffix = work.options.backupSuffix;
    const JobHooks hooks(work, job);
    if (group)
        group->process(job.source, job.output, work.rule, hooks.hooks, options, told);
    else
        told(ProcessFile(job.source, job.output, work.rule, hooks.hooks, options));
}

// What --check and --diff print for a file whose result differs from what it holds.
QByteArray changeText(const FileWork& work, const Job& job, qint64 quotes,
                      const QString& sourceText, const QString& resultText) {
    const QString shown = PrintablePath(job.source);
    if (work.options.mode == Mode::Diff)
        return UnifiedDiff(shown, shown, sourceText, resultText);
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

// --check and --diff: the result is made in the scratch folder, compared with the file and
// removed.
QByteArray compareOne(const FileWork& work, const Job& job, size_t index) {
    const QString resultPath = work.scratch->filePath(QString::number(index));
    FileOptions options;
    options.lineEnds = work.options.lineEnds;
    const JobHooks hooks(work, job);
    FileReport report = processOne(job.source, resultPath, work.rule, hooks.hooks, options);
    SourceFacts facts;
    std::optional<bool> same;
    const qint64 resultSize = QFileInfo(resultPath).size();
    if (report.succeeded()) {
        facts = factsOf(job.source, work.rule);
        same = sameBytes(resultPath, job.source);
        if (!facts.read || !same)
            report = {FileOutcome::Changed,
                      QStringLiteral("it changed while it was being processed")};
    }
    // Only a diff needs the texts whole.
    QString resultText;
    LineArray sourceLines;
    if (report.succeeded() && work.options.mode == Mode::Diff && !*same) {
        QFile file(resultPath);
        if (file.open(QIODevice::ReadOnly))
            resultText = decodeResult(file.readAll(), facts.writtenAs);
        sourceLines = ReadWholeLines(job.source, LineForm::Text);
    }
    QFile::remove(resultPath);
    if (!report.succeeded()) {
        leftUntouched(work, job, report);
        return work.options.json ? jsonLine(job.source, outcomeName(report.outcome), nullptr,
                                            std::nullopt, report.reason)
                                 : QByteArray();
    }
    const bool differs = !*same;
    FileReport compared(differs ? FileOutcome::WouldChange : FileOutcome::Unchanged, {});
    compared.quotesChanged = facts.quotes;
    tellOutcome(work, job, compared);
    QByteArray text;
    if (differs) {
        ++work.tally.wouldChange;
        work.tally.quotesChanged += facts.quotes;
        text = changeText(work, job, facts.quotes, sourceLines.text, resultText);
    }
    if (work.options.json)
        text = jsonLine(job.source,
                        differs ? QStringLiteral("would-change") : QStringLiteral("unchanged"),
                        &facts, resultSize, {});
    return text;
}

} // namespace

void processJob(const FileWork& work, const Job& job, size_t index, char& resultMade,
                CommitGroup* group, const std::function<void(QByteArray)>& deliver) {
    try {
        if (work.scratch)
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
        reason = report.reason;
    }
    fileToStdout(in, kept);
    WriteStdout(notKept);
    for (size_t n; !StdoutFailed() && (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;)
        WriteStdout(QByteArrayView(buffer, qsizetype(n)));
    prompts.printLine(QStringLiteral("-: %1; copied to standard output unchanged").arg(reason));
    return ExitSomeUntouched;
}

} // namespace parvello::cli
