#include "cli/report.h"

#include "base/printablename.h"
#include "base/qtpaths.h"
#include "cli/standardoutput.h"
#include "cli/stderrprompts.h"
#include "textio/codepage.h"

#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>

#include <chrono>

namespace parvello::cli {

QString formatName(SourceFormat format) {
    switch (format) {
    case SourceFormat::CodePage:
        return QStringLiteral("code-page");
    case SourceFormat::Utf8:
        return QStringLiteral("utf-8");
    case SourceFormat::Utf8WithMark:
        return QStringLiteral("utf-8-mark");
    case SourceFormat::Utf16LE:
        return QStringLiteral("utf-16le");
    case SourceFormat::Utf16BE:
        return QStringLiteral("utf-16be");
    case SourceFormat::Utf32LE:
        return QStringLiteral("utf-32le");
    case SourceFormat::Utf32BE:
        return QStringLiteral("utf-32be");
    }
    return {};
}

QString encodingName(OutputEncoding encoding) {
    switch (encoding) {
    case OutputEncoding::CodePage:
        return QStringLiteral("code-page");
    case OutputEncoding::Utf8:
        return QStringLiteral("utf-8");
    case OutputEncoding::Utf8WithMark:
        return QStringLiteral("utf-8-mark");
    case OutputEncoding::Utf16LE:
        return QStringLiteral("utf-16le");
    }
    return {};
}

QString outcomeName(FileOutcome outcome) {
    switch (outcome) {
    case FileOutcome::Written:
        return QStringLiteral("written");
    case FileOutcome::Unchanged:
        return QStringLiteral("unchanged");
    case FileOutcome::NotText:
        return QStringLiteral("not-text");
    case FileOutcome::CannotHold:
        return QStringLiteral("cannot-hold");
    case FileOutcome::NotRead:
        return QStringLiteral("not-read");
    case FileOutcome::NotWritten:
        return QStringLiteral("not-written");
    case FileOutcome::NotAFile:
        return QStringLiteral("not-a-file");
    case FileOutcome::Changed:
        return QStringLiteral("changed");
    case FileOutcome::InUse:
        return QStringLiteral("in-use");
    case FileOutcome::WouldChange:
        return QStringLiteral("would-change");
    }
    return {};
}

QString problemText(const QString& source, const QString& output, const FileReport& report) {
    const FileFailure& failure = report.failure;
    const QString reason = ToQString(failure.reason);
    const QString told = ToQString(report.reason);
    const QString system = reason.isEmpty() ? told : reason;
    switch (report.outcome) {
    case FileOutcome::NotRead:
        return QStringLiteral("cannot read: ") + system;
    case FileOutcome::NotWritten:
        if (output != source)
            return QStringLiteral("cannot write %1: %2").arg(PrintablePath(output), system);
        return QStringLiteral("cannot write: ") + system;
    default:
        if (failure && !reason.isEmpty() && reason != told)
            return told + QStringLiteral(": ") + reason;
        return told;
    }
}

// One line of --report json.
QByteArray jsonLine(const QString& path, const QString& outcome, const SourceFacts* facts,
                    std::optional<qint64> bytesOut, const QString& reason) {
    QJsonObject record{{QStringLiteral("path"), path}, {QStringLiteral("outcome"), outcome}};
    if (facts) {
        record.insert(QStringLiteral("bytes_in"), facts->bytes);
        if (facts->read) {
            const SourceFormat format = facts->format;
            record.insert(QStringLiteral("encoding"), formatName(format));
            if (format == SourceFormat::CodePage)
                record.insert(QStringLiteral("codepage"),
                              ToQString(std::string_view(CodePage::ansi().name())));
            record.insert(QStringLiteral("written_as"), encodingName(facts->writtenAs));
            record.insert(QStringLiteral("quotes"), facts->quotes);
        }
    }
    if (bytesOut)
        record.insert(QStringLiteral("bytes_out"), *bytesOut);
    if (!reason.isEmpty())
        record.insert(QStringLiteral("reason"), reason);
    return QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
}

void nameLeftOut(StderrPrompts& prompts, bool json, const LeftOut& name) {
    prompts.printLine(name.shown + QStringLiteral(": ") + name.reason);
    if (json)
        WriteStdout(jsonLine(name.path, name.outcome, nullptr, std::nullopt, name.reason));
}

void nameReplacedResults(StderrPrompts& prompts, const std::vector<Job>& jobs,
                         const std::vector<char>& resultMade) {
    QHash<QString, size_t> holder;
    for (size_t j = 0; j < jobs.size(); ++j) {
        if (!resultMade[j])
            continue;
        const auto earlier = holder.constFind(jobs[j].output);
        if (earlier != holder.cend() && jobs[*earlier].source != jobs[j].source)
            prompts.printLine(QStringLiteral("replaced: %1: the result of %2 was replaced by "
                                             "the result of %3")
                                  .arg(PrintablePath(jobs[j].output),
                                       PrintablePath(jobs[*earlier].source),
                                       PrintablePath(jobs[j].source)));
        holder.insert(jobs[j].output, j);
    }
}

void writeDiffSummary(const Tally& tally, size_t files) {
    QString summary = QStringLiteral("%1 of %2 file(s) would change, %3 quote(s) in all")
                          .arg(tally.wouldChange.load())
                          .arg(files)
                          .arg(tally.quotesChanged.load());
    if (tally.untouched > 0)
        summary += QStringLiteral("; %1 left untouched").arg(tally.untouched.load());
    WriteStdout(summary.toLocal8Bit() + '\n');
}

void InOrder::put(size_t job, QByteArray text) {
    const std::lock_guard lock(mutex_);
    held_ += text.size();
    pending_[job] = std::move(text);
    for (; next_ < pending_.size() && pending_[next_]; ++next_) {
        if (!pending_[next_]->isEmpty())
            WriteStdout(*pending_[next_]);
        held_ -= pending_[next_]->size();
        pending_[next_].reset();
    }
    turn_.notify_all();
}

bool InOrder::waitTurn(size_t job) {
    std::unique_lock lock(mutex_);
    // A job that fails to write wakes the others; the timeout is for a failure met
    // elsewhere.
    while (next_ < job && !StdoutFailed())
        turn_.wait_for(lock, std::chrono::milliseconds(100));
    return !StdoutFailed();
}

} // namespace parvello::cli
