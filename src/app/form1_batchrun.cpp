// "Start Removing": the batch run over the file list.
#include "app/fileboxes.h"
#include "app/form1.h"
#include "base/failure.h"
#include "base/pathhelpers.h"
#include "base/prompts.h"
#include "filelist/filelistmodel.h"
#include "quotes/quoterule.h"
#include "quotes/runtexts.h"
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

void Form1::startRemoving() {
    if (IsRunning())
        return;
    Trap trap(prompts_, FormTag(QStringLiteral("PushButton2_Click")));

    bool noFiles = false;
    trap.step(RunLines::EmptyListTest, [&] { noFiles = listedFiles->Count() == 0; });
    if (noFiles) {
        trap.step(RunLines::NoFiles, [&] { prompts_.message(QStringLiteral("No files added.")); });
        return;
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
        return;
    }

    int rowCount = 0;
    // Every listed file is looked at once, before the first is processed, so that no row's
    // result replaces a file that a later row has still to read.
    QHash<QString, QString> sourceIdentities;
    std::optional<UnreadSources> unread;
    trap.step(RunLines::RowCount, [&] {
        rowCount = listedFiles->Count();
        const QStringList rows = listedFiles->Rows();
        QStringList identities;
        identities.reserve(rows.size());
        for (const QString& row : rows) {
            auto found = sourceIdentities.constFind(row);
            if (found == sourceIdentities.cend())
                found = sourceIdentities.insert(row, PathIdentity(row));
            identities << *found;
        }
        unread.emplace(identities);
    });
    struct RunningScope {
        Form1* form;
        explicit RunningScope(Form1* f) : form(f) { form->setRunning(true); }
        ~RunningScope() { form->setRunning(false); }
    };
    std::optional<RunningScope> running(std::in_place, this);
    QList<Untouched> untouched;
    // Into one folder: which row's result each output name holds, to name the results a
    // later row's result of the same name replaces.
    QHash<QString, QString> resultsInFolder;
    QList<Collision> collisions;
    std::optional<int> stoppedAfter;
    QElapsedTimer barClock;
    for (int row = 1; row <= rowCount; ++row) {
        // A row that no longer exists is skipped, so no file is processed twice.
        if (row > listedFiles->Count())
            continue;
        QString sourcePath;
        QString outputPath;
        trap.step(RunLines::SourcePath, [&] { sourcePath = listedFiles->Item(row); });
        trap.step(RunLines::BarPosition, [&] {
            // The bar takes its new figures for every file, but is painted at most every
            // few hundredths of a second: on thousands of small files painting would
            // otherwise take longer than the files themselves.
            const bool paint =
                !barClock.isValid() || barClock.hasExpired(BarPaintInterval) || row == rowCount;
            progressBar->setUpdatesEnabled(paint);
            if (paint)
                barClock.start();
            const double position = double(row) / double(listedFiles->Count()) * 100.0;
            progressBar->setValue(qRound(position));
        });
        trap.step(RunLines::BarText, [&] { progressBar->setFormat(ProgressText(sourcePath)); });
        trap.step(RunLines::HandleEvents, [&] { DoEvents(); });
        if (IsUnloading())
            return; // the window is closing: the program ends
        if (stopRequested_) {
            stoppedAfter = row - 1; // every earlier row is done; this one is not begun
            break;
        }
        trap.step(RunLines::Hourglass, [&] { SetMousePointer(PointerHourglass); });
        // Options and texts are read afresh for every file: a change made while the window
        // handled events applies from this file on. With neither option selected (only
        // through stored values) the result goes into the folder of the box, as with
        // intoFolderOption.
        const QChar separator = Separator();
        bool intoFolder = false;
        if (trap.test(RunLines::IntoFolderTest, [&] {
                return intoFolderOption->isChecked() || !inPlaceOption->isChecked();
            })) {
            trap.step(RunLines::IntoFolder, [&] {
                outputPath = outputFolderBox->text() + separator + FileNameOfPath(sourcePath);
                intoFolder = true;
            });
        } else if (trap.test(RunLines::BesideOriginalTest,
                             [&] { return inPlaceOption->isChecked(); })) {
            trap.step(RunLines::BesideOriginal, [&] {
                outputPath = FolderOfPath(sourcePath) + separator + FileNameOfPath(sourcePath);
            });
        }
        trap.step(RunLines::CollapseSeparators,
                  [&] { outputPath = CollapseBackslashes(outputPath); });
        // A failed step above leaves no output path: nothing is written for this file.
        if (outputPath.isEmpty())
            continue;
        trap.step(RunLines::ProcessFile, [&] {
            const QuoteReplacer rule(
                FirstSelectedRule(
                    {removeDoubleOption->isChecked(), removeSingleOption->isChecked(),
                     doubleToSingleOption->isChecked(), singleToDoubleOption->isChecked(),
                     doubleToTextOption->isChecked(), singleToTextOption->isChecked()}),
                doubleReplacementBox->text(), singleReplacementBox->text());
            const QString replacing = PathIdentity(outputPath);
            if (unread) {
                const auto source = sourceIdentities.constFind(sourcePath);
                if (unread->wouldReplaceUnread(
                        source != sourceIdentities.cend() ? *source : PathIdentity(sourcePath),
                        replacing)) {
                    untouched.append({sourcePath, ReplacesUnreadFileReason()});
                    return;
                }
            }
            // A large file hands control back between its blocks: the bar moves with its
            // bytes, and the window repaints and answers (Escape included) meanwhile.
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
                progressBar->setValue(
                    qRound((row - 1 + part) / double(listedFiles->Count()) * 100));
                DoEvents();
                sinceEvents.start();
            };
            const FileReport report = ProcessFileShowingFailures(sourcePath, outputPath, rule,
                                                                 prompts_, &trap, afterBlock);
            if (report.outcome == FileOutcome::NotText ||
                report.outcome == FileOutcome::CannotHold ||
                report.outcome == FileOutcome::NotAFile || report.outcome == FileOutcome::InUse)
                untouched.append({sourcePath, report.reason});
            if (intoFolder && (report.outcome == FileOutcome::Written ||
                               report.outcome == FileOutcome::Unchanged)) {
                const auto earlier = resultsInFolder.constFind(outputPath);
                if (earlier != resultsInFolder.cend() && *earlier != sourcePath)
                    collisions.append({outputPath, *earlier, sourcePath});
                resultsInFolder.insert(outputPath, sourcePath);
            }
            // A later row that lists the replaced file now reads the new file of that name.
            if (unread && report.outcome == FileOutcome::Written && unread->isUnread(replacing))
                unread->replaced(replacing, PathIdentity(outputPath));
        });
    } // 196
    running.reset();
    trap.step(RunLines::DefaultPointer, [&] { SetMousePointer(PointerDefault); });
    trap.step(RunLines::BarToZero, [&] { progressBar->setValue(0); });
    trap.step(RunLines::IdleBarText, [&] {
        // A stopped run says how far it went until the next run.
        progressBar->setFormat(stoppedAfter ? StoppedProgressText(*stoppedAfter, rowCount)
                                            : IdleProgressText);
    });
    trap.step(RunLines::Done, [&] {
        if (!stoppedAfter)
            prompts_.message(QStringLiteral("Done."));
        if (!untouched.isEmpty())
            prompts_.message(UntouchedSummary(untouched));
        if (!collisions.isEmpty())
            prompts_.message(CollisionSummary(collisions));
    });
}

} // namespace parvello
