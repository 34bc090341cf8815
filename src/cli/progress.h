// What parvello-cli shows on a terminal while a run works: a progress line counted in bytes
// across all files (so that one large file shows it too), with the path of the file at work
// as it was given; and the one-line summary at the end.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>

namespace parvello {
class StderrPrompts;
}

namespace parvello::cli {

struct Tally;

class RunProgress {
public:
    // shown: standard error is a terminal and the run is not quiet; otherwise nothing is
    // ever drawn.
    RunProgress(StderrPrompts& prompts, std::int64_t totalBytes, bool shown);
    RunProgress(const RunProgress&) = delete;
    RunProgress& operator=(const RunProgress&) = delete;

    // More bytes of the file at path were read. The line is drawn once the run has gone on
    // for a second, and redrawn at most every 200 ms. Safe from any thread.
    void advance(std::int64_t bytes, const std::filesystem::path& path);
    // Takes the line away, where one was drawn.
    void clear();
    bool shown() const { return shown_; }

private:
    std::string line(const std::filesystem::path& path) const;
    // Milliseconds since the run started.
    std::int64_t elapsed() const;

    StderrPrompts& prompts_;
    const std::int64_t total_;
    const bool shown_;
    std::atomic<std::int64_t> done_{0};
    const std::chrono::steady_clock::time_point start_;
    std::mutex mutex_;
    std::int64_t lastDrawn_ = 0;
    bool drawn_ = false; // a line is on the terminal
};

// The summary at the end of a run that wrote or checked files, e.g. "12 files changed,
// 3 unchanged, 1 left untouched, 4,211 quotes" ("would change" for --check).
std::string SummaryLine(const Tally& tally, bool checking);

// A count with the thousands grouped ("4,211"), as the lines of the run show counts.
std::string GroupedNumber(std::int64_t n);

// A size as the progress line shows it: "512 bytes", "1,000 bytes", "1.5 KiB", "20.0 MiB"
// (powers of 1024, one decimal).
std::string BytesText(std::int64_t bytes);

} // namespace parvello::cli
