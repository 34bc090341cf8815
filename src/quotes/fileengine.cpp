#include "quotes/fileengine.h"

#include "textio/reading.h"
#include "textio/textloader.h"
#include "textio/writing.h"

namespace parvello {

FileReport ProcessFile(const QString& sourcePath, const QString& outputPath,
                       const QuoteReplacer& rule, Prompts& prompts) {
    LineArray lines = ReadFileToStringLine(sourcePath, prompts);
    switch (lines.status) {
    case ReadStatus::NotRead:
        return {FileOutcome::NotRead, QStringLiteral("it could not be read")};
    case ReadStatus::NotText:
        return {FileOutcome::NotText, lines.problem};
    case ReadStatus::Read:
        break;
    }

    // Every line through the rule, each followed by CR LF. The rule's pieces go to the
    // output as they are, without joining them into one line first, unless a replacement
    // text could pair with a unit of the line.
    QString scratch;
    const bool byPieces = rule.piecesStandAlone();
    const TextPieces transformed = [&](PieceSink& sink) {
        const auto append = [&sink](QStringView piece) { return sink.append(piece); };
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool ok = byPieces ? rule.forEachPiece(lines[i], append)
                                     : sink.append(rule.apply(lines[i], scratch));
            if (!ok || !sink.append(u"\r\n"))
                return false;
        }
        return true;
    };
    const OutputEncoding encoding = OutputEncodingFor(lines);
    const WriteResult written = lines.fileIsUtf8
                                    ? WriteFileToStringUTF(outputPath, transformed, prompts)
                                    : WritePiecesFSO(outputPath, encoding, transformed, prompts);
    RecycleText(std::move(lines.text));
    RecycleSpans(std::move(lines.spans));
    switch (written) {
    case WriteResult::Written:
        return {FileOutcome::Written, {}};
    case WriteResult::Unchanged:
        return {FileOutcome::Unchanged, {}};
    case WriteResult::CannotHold:
        return {FileOutcome::CannotHold, CannotHoldReason(encoding)};
    case WriteResult::Failed:
        break;
    }
    return {FileOutcome::NotWritten, QStringLiteral("it could not be written")};
}

} // namespace parvello
