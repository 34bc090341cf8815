// The work of a run on one file: read it block by block, pass every line through the rule,
// write the result in the encoding family of the input, and report what happened. The
// window's run and the command line both go through ProcessFile.
#pragma once

#include "quotes/quoterule.h"
#include "textio/fileerror.h"
#include "textio/linearray.h"
#include "textio/textencoder.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace parvello {

class OpenFolder;

// What happened to one file.
enum class FileOutcome {
    Written,     // the output now holds the result
    Unchanged,   // the output already held exactly the result and was not touched
    NotText,     // left untouched: the bytes are not text in the encoding they claim
    CannotHold,  // left untouched: the output's encoding cannot hold the replacement text
    NotRead,     // left untouched: the file could not be read (see the report's failure)
    NotWritten,  // left untouched: the output could not be written (see the report's failure)
    NotAFile,    // left untouched, not even opened: a pipe, socket or device
    Changed,     // left untouched: it changed while it was being processed (reported as a
                 // failure to write)
    InUse,       // left untouched: another program had it open to write when it was read (one
                 // that opens it later makes it Changed, with that reason)
    WouldChange, // compared only (FileOptions::compareOnly): the result differs from what the
                 // output holds; nothing was written
};

// How the lines of the result end.
enum class LineEnds {
    CrLf, // every line ends with CR LF, the last one too (what the window always does)
    Keep, // every line break stays exactly as it stands, and nothing is added at the end
    Lf,   // every line ends with LF, the last one too: each CR LF, lone CR and lone LF
          // becomes one LF (on the UTF-8 road as well), and an empty text one LF
};

// How ProcessFile treats one file, beyond its rule.
struct FileOptions {
    LineEnds lineEnds = LineEnds::CrLf;
    // The result is made only to be compared with what the output holds: no file is made,
    // written or replaced, and no lease is taken. The outcome is Unchanged or WouldChange.
    bool compareOnly = false;
    // Not empty: right before the result replaces an existing output, the original is kept
    // under the output's name followed by this suffix (in place, the name of the file a link
    // leads to): a hard link, or a copy where the file system allows no link or where the
    // result is written into the file itself. An existing file of that name is replaced. A
    // file left as it is (Unchanged) gets none; when the backup cannot be made, nothing is
    // written (NotWritten, "its backup could not be made: ...").
    std::filesystem::path backupSuffix;
};

// What one file's run reports: how it ended, why it was left untouched, the step that
// failed, and what it read and wrote. The window and the command line each tell it their way.
struct FileReport {
    FileReport() = default;
    FileReport(FileOutcome outcome, std::string reason, FileFailure failure = {})
        : outcome(outcome), reason(std::move(reason)), failure(std::move(failure)) {}

    FileOutcome outcome = FileOutcome::Written;
    // For every outcome except Written and Unchanged: why the file was left untouched, as
    // one clause for a summary ("it holds a NUL byte, so it is not a text file"), in UTF-8.
    std::string reason;
    // For NotRead and NotWritten, and for Changed found at the replace: the step that failed.
    FileFailure failure;
    // Whether the file was read by the UTF-8 road (it begins with the UTF-8 mark).
    bool utf8Road = false;
    SourceFormat formatRead = SourceFormat::CodePage; // as far as the file was read
    OutputEncoding encodingWritten = OutputEncoding::CodePage;
    // How many quotes of the rule's family the result changes (a quote whose replacement is
    // itself is not counted), in the text as it was read last (after a restart, only that).
    std::int64_t quotesChanged = 0;
    // Whether the text was read to its end (whatever became of the output): quotesChanged and
    // formatRead then tell the whole file.
    bool readWhole = false;
    // For Written, Unchanged and WouldChange: the size of the result in bytes.
    std::int64_t resultSize = 0;

    bool succeeded() const {
        return outcome == FileOutcome::Written || outcome == FileOutcome::Unchanged ||
               outcome == FileOutcome::WouldChange;
    }
};

// Where the caller takes part in one file's run. Neither may throw.
struct FileHooks {
    // After each block read (about ReadBlockSize() bytes), with the bytes read so far, and
    // about every 20 ms while a large result waits for the disk at its end (with the file's
    // size): the window answers and shows the progress of a large file meanwhile.
    std::function<void(std::int64_t bytesRead)> afterBlock;
    // Once the whole result is made, right before it takes the output's place: false leaves
    // the output untouched (outcome NotWritten, with no failure).
    std::function<bool(bool utf8Road)> beforeReplace;
};

// Processes one file. Lines end with CR LF in the output, the last one too, unless
// options.lineEnds says otherwise; the output is
// in the encoding family of the input (see OutputEncoding), and replaces outputPath (which
// may be the source itself) only once it is complete. Only a regular file is read; a pipe,
// socket or device is left as it is (NotAFile). When outputPath is the source's own name (in
// place), the result goes to the very file that was read, where the system found it when it
// opened it (so a link stays a link), and only if that file is still there unchanged right
// before it is replaced (else Changed). Any other output path is itself replaced: a link
// there is replaced, never followed. With options.compareOnly the result is made the same
// way, on the same road and with the same count, but only compared with what outputPath
// holds as it comes: nothing is made, written or replaced anywhere (outcome Unchanged or
// WouldChange). Nothing is thrown and nothing is shown: a failed step is in the report.
FileReport ProcessFile(const std::filesystem::path& sourcePath,
                       const std::filesystem::path& outputPath, const QuoteReplacer& rule,
                       const FileHooks& hooks = {}, const FileOptions& options = {});

// Files processed one after another whose results wait, whole in their temporary files, for
// one flush per file system that makes them all durable at once, instead of one flush per
// file. Then each replaces its output, in the order the files came and each after its own
// checks (still the file read, unchanged, its lease unbroken). The new names are made
// durable by a later group's flush, and at finish() each folder that received one and
// that no flush covered since is flushed once. No result replaces its
// output before the flush that covers it. A file whose result cannot wait (it was left
// untouched, its output already held it, it is written into its target or by a thread of
// its own) is done at once, as ProcessFile does it. At most `capacity` results wait (each
// holds three open files and no buffer). Used by one thread; when overlapped, a group that
// fills up is flushed and put in place by a thread of its own while the next one fills, and
// `done` is called on that thread for the files of such a group. Up to GroupsInFlight groups
// are at that at once, each replacing in its own order (on a disk each mostly waits for its
// flush, which the others share), so up to GroupsInFlight + 1 times `capacity` results are
// open at once.
class CommitGroup {
public:
    explicit CommitGroup(size_t capacity = 64, bool overlapped = false);
    ~CommitGroup(); // commits what waits
    CommitGroup(const CommitGroup&) = delete;
    CommitGroup& operator=(const CommitGroup&) = delete;

    // Processes one file as ProcessFile does (committing the group first when it is full);
    // done gets the file's report, at once or when the group commits. done must not throw.
    void process(const std::filesystem::path& sourcePath, const std::filesystem::path& outputPath,
                 const QuoteReplacer& rule, const FileHooks& hooks, const FileOptions& options,
                 std::function<void(const FileReport&)> done);
    size_t waiting() const { return waiting_.size(); }
    bool full() const { return waiting_.size() >= capacity_; }
    // Flushes and replaces every waiting result (see above), after the group in flight:
    // when it returns, every file given so far has been done.
    void commit();
    // commit(), then makes every name given durable. The destructor does it too.
    void finish();

    struct Waiting;

    // How many full groups may be flushed and put in place at once, by threads of their own.
    // Where the disk is quick to flush, three are enough to keep a worker busy; six keep it
    // so where each flush takes tens of milliseconds more (a busy or a spinning disk).
    static constexpr size_t GroupsInFlight = 6;

private:
    struct Flight;
    // Flushes and replaces the results in files, on whichever thread calls it.
    void commitResults(std::vector<std::unique_ptr<Waiting>> files);
    // Hands the waiting results to a thread of their own, once fewer than GroupsInFlight
    // groups are in flight (here, when no thread can be had). The last group of all goes at
    // once, one more in flight: no group fills behind it, so it takes no more open files.
    void commitInBackground(bool last = false);
    // Waits for the oldest group in flight; what it threw is thrown here.
    void awaitOldest();
    // Waits for every group in flight.
    void awaitAll();
    // The same, where nothing may be thrown (what the groups threw is dropped).
    void awaitAllQuietly() noexcept;

    // The open folder of the files given one after another from the same folder (its path's
    // text up to the file's name): opened at the first of them, looked in for all of them.
    std::shared_ptr<const OpenFolder> folderOf(const std::filesystem::path& sourcePath);
    std::shared_ptr<const OpenFolder> folder_;
    std::filesystem::path::string_type folderText_;

    size_t capacity_;
    bool overlapped_;
    std::vector<std::unique_ptr<Waiting>> waiting_;
    // The groups being committed by threads of their own, oldest first.
    std::vector<std::unique_ptr<Flight>> inFlight_;
    // Folders that received names no flush has covered yet, filled by every group in flight.
    std::mutex namedLock_;
    std::vector<std::filesystem::path> namedIn_;
};

} // namespace parvello
