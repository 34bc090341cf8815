#include "quotes/fileengine.h"

#include "base/failure.h"
#include "textio/reading.h"
#include "textio/textloader.h"
#include "textio/writing.h"

#include <QFile>
#include <QFileInfo>

#include <exception>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace parvello {

namespace {

// Whether the path leads to a pipe, socket or device, asked without opening it.
bool isSpecialFile(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 && !S_ISREG(status.st_mode) &&
           !S_ISDIR(status.st_mode);
#else
    const QFileInfo info(path);
    return info.exists() && !info.isFile() && !info.isDir();
#endif
}

// Whether output is the source's own name: the same text, or the same name in the same
// folder reached another way (the folder box naming the source's folder through a link).
bool isSourceName(const QString& source, const QString& output) {
    if (source == output)
        return true;
    const QFileInfo sourceInfo(source);
    const QFileInfo outputInfo(output);
    if (sourceInfo.fileName() != outputInfo.fileName())
        return false;
#ifdef Q_OS_UNIX
    struct stat a {};
    struct stat b {};
    return ::stat(QFile::encodeName(sourceInfo.path()).constData(), &a) == 0 &&
           ::stat(QFile::encodeName(outputInfo.path()).constData(), &b) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
#else
    const QString folder = QFileInfo(sourceInfo.path()).canonicalFilePath();
    return !folder.isEmpty() && folder == QFileInfo(outputInfo.path()).canonicalFilePath();
#endif
}

// The line numbers of the run's steps inside the engine, as the "Application Error" box
// shows them when a step fails (the steps before and after belong to the run itself).
namespace run_lines {
constexpr int Utf8Test = 128; // the UTF-8 route starts an empty output text
constexpr int Utf8Start = 130;
constexpr int LoopStart = 132;     // once per line:
constexpr int TakeLine = 134;      //   the current line
constexpr int FirstRuleTest = 136; //   the six rules' tests, eight lines apart; each
constexpr int RuleStride = 8;      //   rule's three replacements on the next even lines
constexpr int Utf8Append = 184;    //   UTF-8 route: the line and CR LF join the text
constexpr int Utf8Appended = 186;
constexpr int StreamAppend = 188;  //   text-stream route: the line and CR LF are written
constexpr int Utf8WriteTest = 192; // the UTF-8 route writes the whole text
constexpr int Utf8Write = 194;
} // namespace run_lines

// Reaches the rule's lines for one line of text: the tests of the options up to the
// selected one, then its three replacements (with no option selected, all six tests).
void reachRuleSteps(Trap& steps, QuoteRule rule) {
    const int selected = rule == QuoteRule::None ? 6 : int(rule) - 1;
    for (int option = 0; option < 6 && option <= selected; ++option)
        steps.reach(run_lines::FirstRuleTest + run_lines::RuleStride * option);
    if (selected < 6)
        for (int replacement = 1; replacement <= 3; ++replacement)
            steps.reach(run_lines::FirstRuleTest + run_lines::RuleStride * selected +
                        2 * replacement);
}

} // namespace

FileReport ProcessFile(const QString& sourcePath, const QString& outputPath,
                       const QuoteReplacer& rule, Prompts& prompts, Trap* steps) {
    // A pipe could keep the run waiting for ever and a device never end, and neither is
    // the user's text: they are left alone without being opened.
    if (isSpecialFile(sourcePath))
        return {FileOutcome::NotAFile,
                QStringLiteral("it is a pipe, socket or device, not a file")};
    const bool inPlace = isSourceName(sourcePath, outputPath);

    // A rule whose pieces stand alone works on the file's own bytes where the encoding
    // allows it: nothing is decoded and encoded again only to come out the same.
    const bool byPieces = rule.piecesStandAlone();
    LineArray lines =
        ReadFileToStringLine(sourcePath, prompts, byPieces ? LineForm::Bytes : LineForm::Text);
    switch (lines.status) {
    case ReadStatus::NotRead:
        return {FileOutcome::NotRead, QStringLiteral("it could not be read")};
    case ReadStatus::NotText:
        return {FileOutcome::NotText, lines.problem};
    case ReadStatus::Read:
        break;
    }
    // In place, the result goes to the file just read, as the system found it when it was
    // opened; elsewhere it takes the output name's place.
    OutputTarget where;
    where.kind = OutputTarget::Kind::Name;
    if (inPlace) {
        const ReadFileRecord& read = LastReadFile();
        where.kind = OutputTarget::Kind::FileRead;
        if (read.path == sourcePath) {
            where.realPath = read.realPath;
            where.identity = read.identity;
        }
    }

    // Every line through the rule, each followed by CR LF. The rule's pieces go to the
    // output as they are, without joining them into one line first, unless a replacement
    // text could pair with a unit of the line.
    const OutputEncoding encoding = OutputEncodingFor(lines);
    if (steps && lines.fileIsUtf8) {
        steps->reach(run_lines::Utf8Test);
        steps->reach(run_lines::Utf8Start);
    }
    // The run's steps met while the result is written: a failure in one of them stops the
    // transformation, the writer discards what it wrote, and the failure goes back to the
    // run's trap once the writer is done, reported at the step's line. A failure of the
    // output itself stays with the writer, which reports it under its own tag.
    const QuoteRule selected = rule.rule();
    const bool utf8Route = lines.fileIsUtf8;
    const auto reachLine = [&] {
        if (steps) {
            steps->reach(run_lines::TakeLine);
            reachRuleSteps(*steps, selected);
        }
    };
    const auto reachLineEnd = [&] {
        if (steps) {
            steps->reach(utf8Route ? run_lines::Utf8Append : run_lines::StreamAppend);
            if (utf8Route)
                steps->reach(run_lines::Utf8Appended);
        }
    };
    bool outputFailed = false;
    const auto output = [&outputFailed](auto&& write) {
        try {
            return write();
        } catch (...) {
            outputFailed = true;
            throw;
        }
    };
    QString scratch;
    std::optional<ByteQuoteReplacer> byteRule;
    if (lines.inBytes)
        byteRule.emplace(rule, encoding);
    const TextPieces transformAll = [&](PieceSink& sink) {
        const auto append = [&](QStringView piece) {
            return output([&] { return sink.append(piece); });
        };
        if (byteRule) {
            // Pieces that lie one after the other in the file's bytes go to the output as
            // one: most of a file is copied in long stretches, line breaks that already are
            // CR LF included.
            const char* const bytes = lines.bytes.constData();
            const qsizetype total = lines.bytes.size();
            const char* runStart = nullptr;
            qsizetype runLength = 0;
            bool runInFile = false;
            const auto flush = [&] {
                const bool ok = runLength == 0 || output([&] {
                                    return sink.appendBytes({runStart, runLength});
                                });
                runLength = 0;
                return ok;
            };
            const auto appendBytes = [&](QByteArrayView piece) {
                const bool inFile = piece.data() >= bytes && piece.data() <= bytes + total;
                if (inFile && runInFile && runLength > 0 && piece.data() == runStart + runLength) {
                    runLength += piece.size();
                    return true;
                }
                if (!flush())
                    return false;
                runStart = piece.data();
                runLength = piece.size();
                runInFile = inFile;
                return true;
            };
            const auto appendText = [&](QStringView piece) { return flush() && append(piece); };
            for (qsizetype i = 0; i < lines.size(); ++i) {
                reachLine();
                if (!byteRule->forEachPiece(lines.byteLine(i), appendBytes, appendText))
                    return false;
                reachLineEnd();
                const qsizetype end = lines.spans[size_t(i)].start + lines.spans[size_t(i)].length;
                const bool crLf = end + 1 < total && bytes[end] == '\r' && bytes[end + 1] == '\n';
                if (!appendBytes(crLf ? QByteArrayView(bytes + end, 2) : QByteArrayView("\r\n")))
                    return false;
            }
            return flush();
        }
        for (qsizetype i = 0; i < lines.size(); ++i) {
            reachLine();
            const bool ok = byPieces ? rule.forEachPiece(lines[i], append)
                                     : append(rule.apply(lines[i], scratch));
            if (!ok)
                return false;
            reachLineEnd();
            if (!append(u"\r\n"))
                return false;
        }
        return true;
    };
    std::exception_ptr stepFailure;
    const TextPieces transformed = [&](PieceSink& sink) {
        if (!steps)
            return transformAll(sink);
        try {
            steps->reach(run_lines::LoopStart);
            if (!transformAll(sink))
                return false;
            if (utf8Route) {
                steps->reach(run_lines::Utf8WriteTest);
                steps->reach(run_lines::Utf8Write);
            }
            return true;
        } catch (...) {
            if (outputFailed)
                throw;
            stepFailure = std::current_exception();
            return false;
        }
    };
    const WriteResult written =
        lines.fileIsUtf8 ? WriteFileToStringUTF(outputPath, transformed, prompts, where)
                         : WritePiecesFSO(outputPath, encoding, transformed, prompts, where);
    RecycleText(std::move(lines.text));
    RecycleBytes(std::move(lines.bytes));
    RecycleSpans(std::move(lines.spans));
    if (stepFailure)
        std::rethrow_exception(stepFailure);
    switch (written) {
    case WriteResult::Written:
        return {FileOutcome::Written, {}};
    case WriteResult::Unchanged:
        return {FileOutcome::Unchanged, {}};
    case WriteResult::CannotHold:
        return {FileOutcome::CannotHold, CannotHoldReason(encoding)};
    case WriteResult::Changed:
        return {FileOutcome::Changed, QStringLiteral("it changed while it was being processed")};
    case WriteResult::Failed:
        break;
    }
    return {FileOutcome::NotWritten, QStringLiteral("it could not be written")};
}

} // namespace parvello
