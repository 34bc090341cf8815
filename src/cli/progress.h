// What parvello-cli shows on a terminal while a run works: a progress line counted in bytes
// across all files (so that one large file shows it too), with the path of the file at work
// as it was given; and the one-line summary at the end.
#pragma once

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <mutex>

namespace parvello {
class StderrPrompts;
}

namespace parvello::cli {

struct Tally;

class RunProgress {
public:
    // shown: standard error is a terminal and the run is not quiet; otherwise nothing is
    // ever drawn.
    RunProgress(StderrPrompts& prompts, qint64 totalBytes, bool shown);
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    // More bytes of the file at path were read. The line is drawn once the run has gone on
    // for a second, and redrawn at most every 200 ms. Safe from any thread.
    void advance(qint64 bytes, const QString& path);
    // Takes the line away, where one was drawn.
    void clear();
    bool shown() const { return shown_; }

private:
    QString line(const QString& path) const;

    StderrPrompts& prompts_;
    const qint64 total_;
    const bool shown_;
    std::atomic<qint64> done_{0};
    QElapsedTimer clock_;
    std::mutex mutex_;
    qint64 lastDrawn_ = 0;
    bool drawn_ = false; // a line is on the terminal
};

// The summary at the end of a run that wrote or checked files, e.g. "12 files changed,
// 3 unchanged, 1 left untouched, 4,211 quotes" ("would change" for --check).
QString SummaryLine(const Tally& tally, bool checking);

// A count with the thousands grouped ("4,211"), as the lines of the run show counts.
QString GroupedNumber(qint64 n);

} // namespace parvello::cli
