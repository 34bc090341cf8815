// What parvello-cli says about its files: the names of outcomes and encodings, the lines of
// --report json, the lines on standard error for files left out or results replaced, the
// summary of --diff, and standard output kept in the order of the files.
#pragma once

#include "cli/joblist.h"
#include "cli/options.h"
#include "quotes/fileengine.h"
#include "textio/linearray.h"
#include "textio/textencoder.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace parvello {
class StderrPrompts;
}

namespace parvello::cli {

// What the engine found in a file (FileReport): its encoding, the encoding its result is
// written in and how many of its quotes the rule changes, found in the one pass that makes
// the result; and its size.
struct SourceFacts {
    bool read = false; // the text was read to its end: the figures below tell the whole file
    SourceFormat format = SourceFormat::CodePage;
    OutputEncoding writtenAs = OutputEncoding::CodePage;
    std::int64_t bytes = 0;
    std::int64_t quotes = 0;
};

// What the files of a run add up to, counted by every worker.
struct Tally {
    std::atomic<int> written{0};
    std::atomic<int> unchanged{0};
    std::atomic<int> untouched{0};
    std::atomic<int> wouldChange{0};
    std::atomic<std::int64_t> quotesChanged{0};
};

const char* formatName(SourceFormat format);
const char* encodingName(OutputEncoding encoding);
const char* outcomeName(FileOutcome outcome);

// Why a file was left untouched, as its line on standard error says it after the name:
// "cannot read: Permission denied", "cannot write OUT: No space left on device", or the
// engine's reason ("it holds a NUL byte, so it is not a text file"), with the system's own
// words where a step failed.
std::string problemText(const std::filesystem::path& source, const std::filesystem::path& output,
                        const FileReport& report);

// A text as a JSON string, quotes included, escaped as Qt's compact JSON escapes it: " \ and
// the control characters below U+0020 (\b \f \n \r \t, the others \u00xx), every other
// character as its UTF-8; a byte that is not part of valid UTF-8 as the octal escape of
// PrintableName ("\\351"), so the line stays valid UTF-8.
std::string JsonString(std::string_view text);

// One line of --report json; name is the file's JsonName.
std::string jsonLine(const std::string& name, std::string_view outcome, const SourceFacts* facts,
                     std::optional<std::int64_t> bytesOut, std::string_view reason);

// A file left untouched before the engine sees it: named on standard error and, with
// --report json, on standard output.
void nameLeftOut(StderrPrompts& prompts, bool json, const LeftOut& name);

// Into one folder, a later file's result of the same name replaces an earlier one's (jobs
// sharing an output ran in their given order): each replaced result is named.
void nameReplacedResults(StderrPrompts& prompts, const std::vector<Job>& jobs,
                         const std::vector<char>& resultMade);

// The last line of --diff on standard output.
void writeDiffSummary(const Tally& tally, size_t files);

// Standard output for results that finish in any order: each job's text is written once
// every job before it has written its own.
class InOrder {
public:
    explicit InOrder(size_t jobs) : pending_(jobs) {}
    void put(size_t job, std::string text);
    // Waits until every job before this one has written its text, so that this job may
    // write to standard output directly before it puts the rest. False when standard
    // output has failed meanwhile. (Every job before it must have been started.)
    bool waitTurn(size_t job);
    // The bytes of texts put but not yet written (their jobs wait for an earlier one).
    std::int64_t heldBytes() const { return held_; }

private:
    std::atomic<std::int64_t> held_{0};
    std::mutex mutex_;
    std::condition_variable turn_;
    std::vector<std::optional<std::string>> pending_;
    size_t next_ = 0;
};

} // namespace parvello::cli
