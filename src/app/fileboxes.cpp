#include "app/fileboxes.h"

#include "base/failure.h"
#include "base/qtpaths.h"

namespace parvello {

namespace {

const QString NotOpen = QStringLiteral("The file is not open");

void show(Prompts& prompts, const char* routine, int line, const QString& description) {
    ShowErrorBox(prompts, FileRoutineTag(routine), line, description);
}

// The box of a failed writer step: the UTF-8 writer does everything at its save line.
void showWriteFailure(Prompts& prompts, const FileFailure& failure, bool utf8, bool appending) {
    if (utf8) {
        show(prompts, file_routines::WriteUtf8, Utf8WriteLines::Save,
             ToQString(failure.description));
        return;
    }
    const int line = failure.step == FileStep::Write    ? int(AppendLines::Write)
                     : failure.step == FileStep::Commit ? int(AppendLines::Close)
                     : appending                        ? int(AppendLines::OpenToAppend)
                                                        : int(AppendLines::OpenToReplace);
    show(prompts, file_routines::WriteTextStream, line, ToQString(failure.description));
}

WriteResult shown(Prompts& prompts, const WriteOutcome& outcome, bool utf8, bool appending) {
    if (outcome.failure)
        showWriteFailure(prompts, outcome.failure, utf8, appending);
    return outcome.result;
}

} // namespace

QString FileRoutineTag(const char* routine) {
    return ModuleTag(QStringLiteral("RFTSFSO"), QLatin1String(routine));
}

void ReachFileLines(Trap& run, bool utf8Road, QuoteRule rule) {
    using namespace run_lines;
    if (utf8Road) {
        run.reach(Utf8Test);
        run.reach(Utf8Start);
    }
    run.reach(LoopStart);
    run.reach(TakeLine);
    // The tests of the options up to the selected one, then its three replacements (with no
    // option selected, all six tests).
    const int selected = rule == QuoteRule::None ? 6 : int(rule) - 1;
    for (int option = 0; option < 6 && option <= selected; ++option)
        run.reach(FirstRuleTest + RuleStride * option);
    if (selected < 6)
        for (int replacement = 1; replacement <= 3; ++replacement)
            run.reach(FirstRuleTest + RuleStride * selected + 2 * replacement);
    if (utf8Road) {
        run.reach(Utf8Append);
        run.reach(Utf8Appended);
        run.reach(Utf8WriteTest);
        run.reach(Utf8Write);
    } else {
        run.reach(StreamAppend);
    }
}

void ShowFileFailure(Prompts& prompts, const FileReport& report) {
    const FileFailure& failure = report.failure;
    switch (failure.step) {
    case FileStep::None:
        return;
    case FileStep::Open:
        // The mark test's open, the text-stream road's own open, then its end-of-stream test
        // and its close on the stream that never opened.
        show(prompts, file_routines::ReadLines, ReadLines::MarkTest,
             ToQString(failure.description));
        show(prompts, file_routines::ReadTextStream, FsoLines::Open,
             ToQString(failure.description));
        show(prompts, file_routines::ReadTextStream, FsoLines::EmptyTest, NotOpen);
        show(prompts, file_routines::ReadTextStream, FsoLines::Close, NotOpen);
        return;
    case FileStep::Read:
        // At the road's load, then at its close of the stream the failure closed.
        if (report.utf8Road) {
            show(prompts, file_routines::ReadUtf8, UtfLines::Load, ToQString(failure.description));
            show(prompts, file_routines::ReadUtf8, UtfLines::Close, NotOpen);
        } else {
            show(prompts, file_routines::ReadTextStream, FsoLines::Open,
                 ToQString(failure.description));
            show(prompts, file_routines::ReadTextStream, FsoLines::Close, NotOpen);
        }
        return;
    case FileStep::OpenOutput:
    case FileStep::Write:
    case FileStep::Commit:
        showWriteFailure(prompts, failure, report.utf8Road, false);
        return;
    }
}

FileReport ProcessFileShowingFailures(const QString& sourcePath, const QString& outputPath,
                                      const QuoteReplacer& rule, Prompts& prompts, Trap* run,
                                      const std::function<void(qint64)>& afterBlock) {
    std::exception_ptr lineFailure;
    FileHooks hooks;
    hooks.afterBlock = afterBlock;
    if (run)
        hooks.beforeReplace = [&](bool utf8Road) {
            try {
                ReachFileLines(*run, utf8Road, rule.rule());
                return true;
            } catch (...) {
                lineFailure = std::current_exception();
                return false;
            }
        };
    const FileReport report = ProcessFile(ToPath(sourcePath), ToPath(outputPath), rule, hooks);
    if (lineFailure)
        std::rethrow_exception(lineFailure);
    ShowFileFailure(prompts, report);
    return report;
}

WriteResult WriteUtf8WithMark(const QString& path, QStringView text, Prompts& prompts) {
    return WriteUtf8WithMark(
        path,
        [text](PieceSink& sink) {
            return sink.append({text.utf16(), size_t(text.size())});
        },
        prompts);
}

WriteResult WriteUtf8WithMark(const QString& path, const TextPieces& text, Prompts& prompts,
                              const OutputTarget& where) {
    return shown(prompts, WriteOutput(ToPath(path), OutputEncoding::Utf8WithMark, text, where),
                 true, false);
}

WriteResult AppendInEncoding(QStringView text, const QString& path, int pieceNumber,
                             OutputEncoding encoding, Prompts& prompts) {
    if (pieceNumber > 1)
        return shown(prompts,
                     AppendOutput(ToPath(path), encoding,
                                  std::u16string_view(text.utf16(), size_t(text.size()))),
                     false, true);
    return WriteInEncoding(
        path, encoding,
        [text](PieceSink& sink) {
            return sink.append({text.utf16(), size_t(text.size())});
        },
        prompts);
}

WriteResult WriteInEncoding(const QString& path, OutputEncoding encoding, const TextPieces& text,
                            Prompts& prompts, const OutputTarget& where) {
    return shown(prompts, WriteOutput(ToPath(path), encoding, text, where), false, false);
}

} // namespace parvello
