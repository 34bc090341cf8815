#include "quotes/fileengine.h"

#include "textio/reading.h"
#include "textio/textloader.h"
#include "textio/writing.h"

#include <optional>

namespace parvello {

FileReport ProcessFile(const QString& sourcePath, const QString& outputPath,
                       const QuoteReplacer& rule, Prompts& prompts) {
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

    // Every line through the rule, each followed by CR LF. The rule's pieces go to the
    // output as they are, without joining them into one line first, unless a replacement
    // text could pair with a unit of the line.
    const OutputEncoding encoding = OutputEncodingFor(lines);
    QString scratch;
    std::optional<ByteQuoteReplacer> byteRule;
    if (lines.inBytes)
        byteRule.emplace(rule, encoding);
    const TextPieces transformed = [&](PieceSink& sink) {
        const auto append = [&sink](QStringView piece) { return sink.append(piece); };
        if (byteRule) {
            const auto appendBytes = [&sink](QByteArrayView piece) {
                return sink.appendBytes(piece);
            };
            for (qsizetype i = 0; i < lines.size(); ++i)
                if (!byteRule->forEachPiece(lines.byteLine(i), appendBytes, append) ||
                    !sink.appendBytes("\r\n"))
                    return false;
            return true;
        }
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const bool ok = byPieces ? rule.forEachPiece(lines[i], append)
                                     : sink.append(rule.apply(lines[i], scratch));
            if (!ok || !sink.append(u"\r\n"))
                return false;
        }
        return true;
    };
    const WriteResult written = lines.fileIsUtf8
                                    ? WriteFileToStringUTF(outputPath, transformed, prompts)
                                    : WritePiecesFSO(outputPath, encoding, transformed, prompts);
    RecycleText(std::move(lines.text));
    RecycleBytes(std::move(lines.bytes));
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
