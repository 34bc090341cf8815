// "Start Removing": the batch run over the file list.
#include "app/fileboxes.h"
#include "app/form1.h"
#include "app/runtexts.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/prompts.h"
#include "base/qtpaths.h"
#include "filelist/filelistmodel.h"
#include "quotes/outputpath.h"
#include "quotes/quoterule.h"
#include "quotes/unreadsources.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include <algorithm>
#include <optional>

namespace parvello {

namespace {

// Milliseconds between two paintings of the progress bar during a run.
constexpr qint64 BarPaintInterval = 40;
// Milliseconds the engine may work on one file before the window handles events again.
constexpr qint64 LargeFileEventsInterval = 25;

// A result written into the output folder under a name an earlier row's result had.
struct Collision {
    QString output;  // the one name both results took
    QString earlier; // the row whose result was replaced
    QString later;   // the row whose result is there now
};

// The box after "Done." that names the results a later row's result replaced.
QString CollisionSummary(const QList<Collision>& collisions) {
    QString text =
        collisions.size() == 1
            ? QStringLiteral("1 result was replaced by a later file's result of the same name:")
            : QStringLiteral("%1 results were replaced by later files' results of the same name:")
                  .arg(collisions.size());
    for (qsizetype i = 0; i < collisions.size() && i < SummaryNames; ++i) {
        const Collision& c = collisions[i];
        text += QStringLiteral("\r\n%1: the result of %2 was replaced by the result of %3")
                    .arg(c.output, c.earlier, c.later);
    }
    if (collisions.size() > SummaryNames)
        text += QStringLiteral("\r\n... and %1 more.").arg(collisions.size() - SummaryNames);
    return text;
}

} // namespace

void Form1::setRunning(bool running) {
    running_ = running;
    progressBar->setUpdatesEnabled(true);
    for (QPushButton* button :
         {addFilesButton, startButton, addFolderButton, clearListButton, samplesButton})
        button->setEnabled(!running);
    fileList->setAcceptDrops(!running);
    stopRequested_ = false;
}

bool Form1::AskToStop() {
    // One box at a time, and none once the run is to stop.
    if (!running_ || stopRequested_ || askingToStop_)
        return stopRequested_;
    askingToStop_ = true;
    const bool stop = prompts_.askYesNo(StopQuestion);
    askingToStop_ = false;
    if (stop && running_)
        stopRequested_ = true;
    return stop;
}

QString StoppedProgressText(int done, int total) {
    const QLocale english(QLocale::English);
    return QStringLiteral("Stopped after %1 of %2 files.")
        .arg(english.toString(done), english.toString(total));
}

// The lines of "Start Removing" (startRemoving): the numbers users see in the "Application
// Error" box ("in ...PushButton2_Click at line N") when a step fails. Keep each number.
// Lines 128 to 194, the steps for each line of a file, stand for the engine's work
// (run_lines in app/fileboxes.h).
struct RunLines {
    enum : int {
        EmptyListTest = 100,
        FolderTest = 102,
        RowCount = 104,
        SourcePath = 106,
        BarPosition = 108,
        BarText = 110,
        HandleEvents = 112,
        Hourglass = 114,
        IntoFolderTest = 116,
        IntoFolder = 118,
        BesideOriginalTest = 120,
        BesideOriginal = 122,
        CollapseSeparators = 124,
        ProcessFile = 126,
        DefaultPointer = 198,
        BarToZero = 200,
        IdleBarText = 202,
        Done = 204,
        NoFolder = 206,
        NoFiles = 208,
    };
};

// The state of one run of "Start Removing".
struct BatchRun {
    explicit BatchRun(Prompts& prompts)
        : trap(prompts, FormTag(QStringLiteral("PushButton2_Click"))) {}

    Trap trap;
    int rowCount = 0;
    // Every listed file is looked at once, before the first is processed, so that no row's
    // result replaces a file that a later row has still to read.
    QHash<QString, std::string> sourceIdentities;
    std::optional<UnreadSources> unread;
    QList<Untouched> untouched;
    // Into one folder: which row's result each output name holds, to name the results a
    // later row's result of the same name replaces.
    QHash<QString, QString> resultsInFolder;
    QList<Collision> collisions;
    std::optional<int> stoppedAfter;
    bool closing = false; // the window began to close while the run handled events
    QElapsedTimer barClock;
};

void Form1::startRemoving() {
    if (IsRunning())
        return;
    BatchRun run(prompts_);
    if (!runMayStart(run.trap))
        return;
    listRunFiles(run);
    struct RunningScope {
        Form1* form;
        explicit RunningScope(Form1* f) : form(f) { form->setRunning(true); }
        ~RunningScope() { form->setRunning(false); }
    };
    {
        const RunningScope running(this);
        for (int row = 1; row <= run.rowCount; ++row) {
            // A row that no longer exists is skipped, so no file is processed twice.
            if (row > listedFiles->Count())
                continue;
            if (!runRow(run, row))
                break;
        } // 196
    }
    if (run.closing)
        return; // the window is closing: the program ends
    endRun(run);
}

// An empty list, or no output folder where the results go into one, ends the run at once.
bool Form1::runMayStart(Trap& trap) {
    bool noFiles = false;
    trap.step(RunLines::EmptyListTest, [&] { noFiles = listedFiles->Count() == 0; });
    if (noFiles) {
        trap.step(RunLines::NoFiles, [&] { prompts_.message(QStringLiteral("No files added.")); });
        return false;
    }
    bool noFolder = false;
    trap.step(RunLines::FolderTest, [&] {
        noFolder = !IsFolder(outputFolderBox->text()) && !inPlaceOption->isChecked();
    });
    if (noFolder) {
        trap.step(RunLines::NoFolder, [&] {
            prompts_.message(
                QStringLiteral("Folder does not exist. Please select another folder."));
        });
        return false;
    }
    return true;
}

void Form1::listRunFiles(BatchRun& run) {
    run.trap.step(RunLines::RowCount, [&] {
        run.rowCount = listedFiles->Count();
        const QStringList rows = listedFiles->Rows();
        std::vector<std::string> identities;
        identities.reserve(size_t(rows.size()));
        for (const QString& row : rows) {
            auto found = run.sourceIdentities.constFind(row);
            if (found == run.sourceIdentities.cend())
                found = run.sourceIdentities.insert(row, PathIdentity(ToPath(row)));
            identities.push_back(*found);
        }
        run.unread.emplace(identities);
    });
}

// One row: the bar, the events, the output path and the file. False when the run stops
// here (the user asked to stop, or the window is closing).
bool Form1::runRow(BatchRun& run, int row) {
    Trap& trap = run.trap;
    QString sourcePath;
    QString outputPath;
    trap.step(RunLines::SourcePath, [&] { sourcePath = listedFiles->Item(row); });
    trap.step(RunLines::BarPosition, [&] {
        // The bar takes its new figures for every file, but is painted at most every few
        // hundredths of a second: on thousands of small files painting would otherwise take
        // longer than the files themselves.
        const bool paint = !run.barClock.isValid() || run.barClock.hasExpired(BarPaintInterval) ||
                           row == run.rowCount;
        progressBar->setUpdatesEnabled(paint);
        if (paint)
            run.barClock.start();
        const double position = double(row) / double(listedFiles->Count()) * 100.0;
        progressBar->setValue(qRound(position));
    });
    trap.step(RunLines::BarText, [&] { progressBar->setFormat(ProgressText(sourcePath)); });
    trap.step(RunLines::HandleEvents, [&] { DoEvents(); });
    if (IsUnloading()) {
        run.closing = true;
        return false;
    }
    if (stopRequested_) {
        run.stoppedAfter = row - 1; // every earlier row is done; this one is not begun
        return false;
    }
    trap.step(RunLines::Hourglass, [&] { SetMousePointer(PointerHourglass); });
    // Options and texts are read afresh for every file: a change made while the window
    // handled events applies from this file on. With neither option selected (only through
    // stored values) the result goes into the folder of the box, as with intoFolderOption.
    bool intoFolder = false;
    if (trap.test(RunLines::IntoFolderTest,
                  [&] { return intoFolderOption->isChecked() || !inPlaceOption->isChecked(); })) {
        trap.step(RunLines::IntoFolder, [&] {
            outputPath = OutputPathFor(sourcePath, SaveChoice::ToFolder, outputFolderBox->text());
            intoFolder = true;
        });
    } else if (trap.test(RunLines::BesideOriginalTest,
                         [&] { return inPlaceOption->isChecked(); })) {
        trap.step(RunLines::BesideOriginal, [&] {
            outputPath = OutputPathFor(sourcePath, SaveChoice::BesideOriginal, QString());
        });
    }
    // The path comes with its doubled separators collapsed already.
    trap.step(RunLines::CollapseSeparators, [] {});
    // A failed step above leaves no output path: nothing is written for this file.
    if (!outputPath.isEmpty())
        trap.step(RunLines::ProcessFile,
                  [&] { processRow(run, row, sourcePath, outputPath, intoFolder); });
    return true;
}

void Form1::processRow(BatchRun& run, int row, const QString& sourcePath, const QString& outputPath,
                       bool intoFolder) {
    const QuoteReplacer rule(
        FirstSelectedRule({removeDoubleOption->isChecked(), removeSingleOption->isChecked(),
                           doubleToSingleOption->isChecked(), singleToDoubleOption->isChecked(),
                           doubleToTextOption->isChecked(), singleToTextOption->isChecked()}),
        doubleReplacementBox->text().toStdU16String(),
        singleReplacementBox->text().toStdU16String());
    const std::string replacing = PathIdentity(ToPath(outputPath));
    if (run.unread) {
        const auto source = run.sourceIdentities.constFind(sourcePath);
        if (run.unread->wouldReplaceUnread(
                source != run.sourceIdentities.cend() ? *source : PathIdentity(ToPath(sourcePath)),
                replacing)) {
            run.untouched.append({sourcePath, ToQString(ReplacesUnreadFileReason())});
            return;
        }
    }
    // A large file hands control back between its blocks: the bar moves with its bytes, and
    // the window repaints and answers (Escape included) meanwhile.
    QElapsedTimer sinceEvents;
    sinceEvents.start();
    qint64 fileSize = -1;
    const auto afterBlock = [&](qint64 bytesRead) {
        if (!sinceEvents.hasExpired(LargeFileEventsInterval))
            return;
        if (fileSize < 0)
            fileSize = QFileInfo(sourcePath).size();
        const double part = fileSize > 0 ? std::min(1.0, double(bytesRead) / fileSize) : 1;
        progressBar->setUpdatesEnabled(true);
        progressBar->setValue(qRound((row - 1 + part) / double(listedFiles->Count()) * 100));
        DoEvents();
        sinceEvents.start();
    };
    const FileReport report =
        ProcessFileShowingFailures(sourcePath, outputPath, rule, prompts_, &run.trap, afterBlock);
    if (report.outcome == FileOutcome::NotText || report.outcome == FileOutcome::CannotHold ||
        report.outcome == FileOutcome::NotAFile || report.outcome == FileOutcome::InUse)
        run.untouched.append({sourcePath, ToQString(report.reason)});
    if (intoFolder && report.succeeded()) {
        const auto earlier = run.resultsInFolder.constFind(outputPath);
        if (earlier != run.resultsInFolder.cend() && *earlier != sourcePath)
            run.collisions.append({outputPath, *earlier, sourcePath});
        run.resultsInFolder.insert(outputPath, sourcePath);
    }
    // A later row that lists the replaced file now reads the new file of that name.
    if (run.unread && report.outcome == FileOutcome::Written && run.unread->isUnread(replacing))
        run.unread->replaced(replacing, PathIdentity(ToPath(outputPath)));
}

void Form1::endRun(BatchRun& run) {
    Trap& trap = run.trap;
    trap.step(RunLines::DefaultPointer, [&] { SetMousePointer(PointerDefault); });
    trap.step(RunLines::BarToZero, [&] { progressBar->setValue(0); });
    trap.step(RunLines::IdleBarText, [&] {
        // A stopped run says how far it went until the next run.
        progressBar->setFormat(run.stoppedAfter
                                   ? StoppedProgressText(*run.stoppedAfter, run.rowCount)
                                   : IdleProgressText);
    });
    trap.step(RunLines::Done, [&] {
        if (!run.stoppedAfter)
            prompts_.message(QStringLiteral("Done."));
        if (!run.untouched.isEmpty())
            prompts_.message(UntouchedSummary(run.untouched));
        if (!run.collisions.isEmpty())
            prompts_.message(CollisionSummary(run.collisions));
    });
}

} // namespace parvello
