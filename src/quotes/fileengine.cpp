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
            // Pieces that lie one after the other in the file's bytes go to the output as
            // one: most of a file is copied in long stretches, line breaks that already are
            // CR LF included.
            const char* const bytes = lines.bytes.constData();
            const qsizetype total = lines.bytes.size();
            const char* runStart = nullptr;
            qsizetype runLength = 0;
            bool runInFile = false;
            const auto flush = [&] {
                const bool ok = runLength == 0 || sink.appendBytes({runStart, runLength});
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
            const auto appendText = [&](QStringView piece) {
                return flush() && sink.append(piece);
            };
            for (qsizetype i = 0; i < lines.size(); ++i) {
                if (!byteRule->forEachPiece(lines.byteLine(i), appendBytes, appendText))
                    return false;
                const qsizetype end = lines.spans[size_t(i)].start + lines.spans[size_t(i)].length;
                const bool crLf = end + 1 < total && bytes[end] == '\r' && bytes[end + 1] == '\n';
                if (!appendBytes(crLf ? QByteArrayView(bytes + end, 2) : QByteArrayView("\r\n")))
                    return false;
            }
            return flush();
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
