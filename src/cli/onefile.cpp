#include "cli/onefile.h"

#include "base/printablename.h"
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

// The one place where parvello-cli hands a file to the engine, in every mode. A failed step
// is told in the file's one line: its reason gets the system's own words.
FileReport processOne(const QString& source, const QString& output, const QuoteReplacer& rule,
                      const FileOptions& options = {}) {
    FileReport report = ProcessFile(source, output, rule, {}, options);
    if (report.failure && report.failure.reason != report.reason)
        report.reason += QStringLiteral(": ") + report.failure.reason;
    return report;
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

void leftUntouched(const FileWork& work, const Job& job, const FileReport& report) {
    ++work.tally.untouched;
    work.prompts.printLine(
        QStringLiteral("left untouched: %1: %2").arg(PrintablePath(job.source), report.reason));
}

// --out or --in-place.
QByteArray writeOne(const FileWork& work, const Job& job, char& resultMade) {
    const bool json = work.options.json;
    // The size before the file is replaced by its result.
    const qint64 bytesIn = json && job.sourceStatus.regular ? QFileInfo(job.source).size() : 0;
    const FileReport report = processOne(job.source, job.output, work.rule);
    if (!report.succeeded())
        leftUntouched(work, job, report);
    else
        resultMade = 1;
    if (!json)
        return QByteArray();
    std::optional<SourceFacts> facts;
    if (job.sourceStatus.regular)
        facts = factsOf(report, bytesIn);
    std::optional<qint64> bytesOut;
    if (report.succeeded())
        bytesOut = report.resultSize;
    return jsonLine(job.source, outcomeName(report.outcome), facts ? &*facts : nullptr, bytesOut,
                    report.reason);
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

// --check: the result is made and compared with the file as it comes, and written nowhere.
// --diff: the result is made in the scratch folder, compared with the file and removed.
QByteArray compareOne(const FileWork& work, const Job& job, size_t index) {
    const bool diff = work.options.mode == Mode::Diff;
    const qint64 bytesIn = QFileInfo(job.source).size();
    FileOptions options;
    options.compareOnly = !diff;
    const QString resultPath = diff ? work.scratch->filePath(QString::number(index)) : job.source;
    FileReport report = processOne(job.source, resultPath, work.rule, options);
    bool differs = report.outcome == FileOutcome::WouldChange;
    if (diff && report.succeeded()) {
        const std::optional<bool> same = sameBytes(resultPath, job.source);
        if (!same)
            report = {FileOutcome::Changed,
                      QStringLiteral("it changed while it was being processed")};
        differs = same && !*same;
    }
    // Only a diff needs the texts whole.
    QString resultText;
    LineArray sourceLines;
    if (report.succeeded() && diff && differs) {
        QFile file(resultPath);
        if (file.open(QIODevice::ReadOnly))
            resultText = decodeResult(file.readAll(), report.encodingWritten);
        sourceLines = ReadWholeLines(job.source, LineForm::Text);
    }
    if (diff)
        QFile::remove(resultPath);
    if (!report.succeeded()) {
        leftUntouched(work, job, report);
        return work.options.json ? jsonLine(job.source, outcomeName(report.outcome), nullptr,
                                            std::nullopt, report.reason)
                                 : QByteArray();
    }
    const SourceFacts facts = factsOf(report, bytesIn);
    QByteArray text;
    if (differs) {
        ++work.tally.wouldChange;
        work.tally.quotesChanged += facts.quotes;
        text = changeText(work, job, facts.quotes, sourceLines.text, resultText);
    }
    if (work.options.json)
        text = jsonLine(job.source,
                        differs ? QStringLiteral("would-change") : QStringLiteral("unchanged"),
                        &facts, report.resultSize, {});
    return text;
}

} // namespace

QByteArray processJob(const FileWork& work, const Job& job, size_t index, char& resultMade) {
    try {
        const bool compare = work.options.mode == Mode::Check || work.options.mode == Mode::Diff;
        return compare ? compareOne(work, job, index) : writeOne(work, job, resultMade);
    } catch (const std::exception& failure) {
        ++work.tally.untouched;
        work.prompts.printLine(
            QStringLiteral("left untouched: %1: it could not be processed (%2)")
                .arg(PrintablePath(job.source), QString::fromLocal8Bit(failure.what())));
        return QByteArray();
    }
}

// Standard input through the engine to standard output. The text goes through a private
// temporary folder, a block at a time, so it takes exactly the road a file would and memory
// does not grow with it; input the engine leaves untouched is copied through unchanged.
// The folder goes when the run ends, whether it ends here or by a signal (ScratchFolder).
int runFilter(const QuoteReplacer& rule, StderrPrompts& prompts) {
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
        const FileReport report = processOne(in, out, rule);
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
    prompts.printLine(
        QStringLiteral("left untouched: -: %1; copied to standard output unchanged").arg(reason));
    return ExitSomeUntouched;
}

} // namespace parvello::cli
