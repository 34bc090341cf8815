#include "quotes/fileengine.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "quotes/blocklines.h"
#include "quotes/stagedoutput.h"
#include "textio/atomicfile.h"
#include "textio/outputfile.h"
#include "textio/reading.h"
#include "textio/writebehind.h"
#include "textio/writing.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace parvello {

namespace {

// Whether the path leads to a pipe, socket or device, asked without opening it (in the open
// folder where there is one).
bool isSpecialFile(const OpenFolder& folder, const std::filesystem::path& path) {
#if defined(PARVELLO_OS_UNIX)
    const int in = folder.handle();
    return FileStatus::At(FolderToLook(in), NameToLook(in, path.native())).kind == FileKind::Other;
#else
    (void)folder;
    return FileStatus::Of(path).kind == FileKind::Other;
#endif
}

// The folder part of a path, "." for a bare name.
std::filesystem::path folderPart(const std::filesystem::path& path) {
    std::filesystem::path folder = path.parent_path();
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// Whether output is the source's own name: the same text, or the same name in the same
// folder reached another way (the folder box naming the source's folder through a link).
bool isSourceName(const std::filesystem::path& source, const std::filesystem::path& output) {
    if (source.native() == output.native())
        return true;
    if (source.filename().native() != output.filename().native())
        return false;
#if defined(PARVELLO_OS_UNIX)
    const FileStatus sourceFolder = FileStatus::Of(folderPart(source));
    return sourceFolder.exists() && sourceFolder.id == FileStatus::Of(folderPart(output)).id;
#else
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::canonical(folderPart(source), error);
    if (error || folder.empty())
        return false;
    const std::filesystem::path other = std::filesystem::canonical(folderPart(output), error);
    return !error && folder.native() == other.native();
#endif
}

const char* const InUseReason = "another program is writing it";

// The text of one file on its way from the reader to the output: block after block through
// the rule; started over when a mark-less file proves to be in the code page, or when a
// replacement text that is not ASCII meets a file that is all ASCII in the code page; ended
// with the last line's end. The line ends: CR LF (on the UTF-8 road a lone CR or LF stays in
// its line), LF (on every road each CR LF, lone CR and lone LF), or kept as they stand, with
// nothing added at the end.
class TextRun {
public:
    TextRun(SourceReader& read, const QuoteReplacer& rule, const FileHooks& hooks,
            LineEnds lineEnds)
        : read_(read), blocks_(read.blocks()), rule_(rule), hooks_(hooks),
          utf8Road_(read.fileIsUtf8()),
          crLfOnly_(lineEnds == LineEnds::Keep || (utf8Road_ && lineEnds == LineEnds::CrLf)),
          lf_(lineEnds == LineEnds::Lf), out_(rule),
          byteLines_(crLfOnly_, out_, lf_, lineEnds != LineEnds::Keep),
          unitLines_(crLfOnly_, out_, lf_, lineEnds != LineEnds::Keep) {
        // A pure-ASCII file taken for UTF-8 comes out the same as the code page would give
        // it, unless what a straight quote becomes is not ASCII.
        for (const char16_t c : rule.result(0))
            resultAscii_ = resultAscii_ && c < 0x80;
    }

    // Takes the first block before the output is opened: a small file is then known to be
    // text, in its encoding, before anything is written. False when it could not be read or
    // is not text (see notText()).
    bool takeFirstBlock() {
        next_ = read_.next();
        while (next_ == SourceBlocks::Next::Restart && !read_.failed())
            next_ = read_.next();
        encoding_ = encodingNow();
        if (next_ == SourceBlocks::Next::NotText)
            notText_ = blocks_.notText();
        return !read_.failed() && notText_.empty();
    }

    // Hands the whole result to sink. False when it stopped early: the rest is not text, a
    // read failed, the output refused a piece, or the caller declined the replace.
    bool transform(PieceSink& sink) {
        sink_ = &sink;
        setUp();
        for (;;) {
            switch (next_) {
            case SourceBlocks::Next::Block:
                passBlock();
                break;
            case SourceBlocks::Next::Restart:
                startOver();
                break;
            case SourceBlocks::Next::NotText:
                notText_ = blocks_.notText();
                return false;
            case SourceBlocks::Next::End:
                if (encodingNow() != encoding_ && !resultAscii_) {
                    blocks_.restartAsCodePage();
                    startOver();
                    break;
                }
                readWhole_ = true;
                return finish();
            }
            next_ = read_.next();
            if (read_.failed())
                return false;
        }
    }

    bool utf8Road() const { return utf8Road_; }
    OutputEncoding encoding() const { return encoding_; }
    const std::string& notText() const { return notText_; }
    bool declined() const { return declined_; }
    std::int64_t quotesChanged() const { return out_.quotesChanged(); }
    bool readWhole() const { return readWhole_; }

private:
    OutputEncoding encodingNow() const { return OutputEncodingFor(blocks_.format()); }

    void setUp() {
        const ByteQuoteReplacer* byteRule = nullptr;
        if (blocks_.inBytes())
            byteRule = &byteRule_.emplace(rule_, encoding_);
        out_.begin(*sink_, !blocks_.inBytes(), crLfOnly_, encoding_, byteRule, lf_);
    }

    // The file is read again from its first byte in another encoding: what was written goes,
    // and a refusal in the old encoding no longer holds.
    void startOver() {
        encoding_ = encodingNow();
        sink_->restart(encoding_);
        byteLines_.reset();
        unitLines_.reset();
        blocksRead_ = 0;
        setUp();
    }

    // Once the output has refused a piece, the blocks are only read on, in case the rest
    // turns out not to be text, and their quotes counted.
    void passBlock() {
        if (!out_.refused() && blocks_.inBytes()) {
            const std::string_view bytes = blocks_.bytes();
            const std::ptrdiff_t n = std::ptrdiff_t(bytes.size());
            if (out_.passing())
                byteLines_.pass(bytes.data(), n);
            else
                byteLines_.block(bytes.data(), n);
            out_.flush(); // the block's buffer is read into again
        } else if (!out_.refused()) {
            const std::u16string_view units = blocks_.units();
            const std::ptrdiff_t n = std::ptrdiff_t(units.size());
            if (out_.passing()) {
                unitLines_.pass(units.data(), n);
                out_.flush();
            } else {
                unitLines_.block(units.data(), n);
            }
        } else if (blocks_.inBytes()) {
            out_.countQuotes(blocks_.bytes().data(), std::ptrdiff_t(blocks_.bytes().size()));
        } else {
            out_.countQuotes(blocks_.units().data(), std::ptrdiff_t(blocks_.units().size()));
        }
        if (hooks_.afterBlock)
            hooks_.afterBlock(++blocksRead_ * ReadBlockSize());
    }

    bool finish() {
        encoding_ = encodingNow();
        if (out_.refused())
            return false;
        if (blocks_.inBytes())
            byteLines_.finish();
        else
            unitLines_.finish();
        if (!out_.flush())
            return false;
        declined_ = hooks_.beforeReplace && !hooks_.beforeReplace(utf8Road_);
        return !declined_;
    }

    SourceReader& read_;
    SourceBlocks& blocks_;
    const QuoteReplacer& rule_;
    const FileHooks& hooks_;
    const bool utf8Road_;
    const bool crLfOnly_; // lines end at CR LF only, and a lone CR or LF stays in its line
    const bool lf_;       // lines end with LF
    bool resultAscii_ = true;
    SourceBlocks::Next next_ = SourceBlocks::Next::End;
    OutputEncoding encoding_ = OutputEncoding::CodePage;
    PieceSink* sink_ = nullptr;
    std::optional<ByteQuoteReplacer> byteRule_;
    StagedOutput out_;
    BlockLines<char, StagedOutput> byteLines_;
    BlockLines<char16_t, StagedOutput> unitLines_;
    std::int64_t blocksRead_ = 0;
    std::string notText_;
    bool declined_ = false;
    bool readWhole_ = false;
};

// Which file the result replaces: in place, the file just read (the file a link there leads
// to, not the link); elsewhere the output name itself. A small file's bytes go along, to
// compare the result with.
OutputTarget targetFor(const SourceFile& source, bool inPlace,
                       const std::filesystem::path& backupSuffix) {
    OutputTarget where;
    where.backupSuffix = backupSuffix;
    where.kind = OutputTarget::Kind::Name;
    if (inPlace) {
        where.kind = OutputTarget::Kind::FileRead;
        where.linkFreePath = source.file->linkFreePath();
        where.identity = source.identity;
        where.source = source.file.get();
#if defined(PARVELLO_OS_UNIX)
        where.folder = source.file->folderOfName();
#endif
    }
    where.sourceBytes = source.smallBytes();
    where.sourceBytesKnown = source.whole && source.headSize <= KeepBytesUpTo;
    where.sourceIdentity = source.identity;
    return where;
}

FileReport notRead(const FileFailure& failure) {
    return FileReport(FileOutcome::NotRead, "it could not be read", failure);
}

// The report of a result that went to its output: written, unchanged, or left untouched at
// the write or the replace.
FileReport writtenReport(const WriteOutcome& written, OutputEncoding encoding) {
    FileReport report;
    if (written.result == WriteResult::Written || written.result == WriteResult::Unchanged)
        report.outcome =
            written.result == WriteResult::Written ? FileOutcome::Written : FileOutcome::Unchanged;
    else if (written.result == WriteResult::Differs)
        report.outcome = FileOutcome::WouldChange;
    else if (written.result == WriteResult::CannotHold)
        report = FileReport(FileOutcome::CannotHold, CannotHoldReason(encoding));
    else if (written.result == WriteResult::Changed)
        report = FileReport(FileOutcome::Changed, "it changed while it was being processed");
    else if (written.result == WriteResult::InUse) // told as a change is
        report = FileReport(FileOutcome::Changed, InUseReason);
    else
        report = FileReport(FileOutcome::NotWritten, "it could not be written");
    report.failure = written.failure;
    return report;
}

// The report of a file whose text went to the writer.
FileReport reportOf(const SourceReader& read, const TextRun& run, const WriteOutcome& written) {
    FileReport report;
    if (read.failed())
        report = notRead(read.failure());
    else if (!run.notText().empty())
        report = FileReport(FileOutcome::NotText, run.notText());
    else if (run.declined())
        report = FileReport(FileOutcome::NotWritten, "the run was stopped before it");
    else
        report = writtenReport(written, run.encoding());
    if (!report.failure)
        report.failure = written.failure;
    report.utf8Road = run.utf8Road();
    report.encodingWritten = run.encoding();
    report.quotesChanged = run.quotesChanged();
    report.readWhole = run.readWhole();
    if (report.succeeded())
        report.resultSize = written.size;
    return report;
}

// A waiting file's report once its replace has been tried: how it ended is the replace's,
// the rest (what was read, counted and made) stays.
FileReport afterReplace(FileReport report, const WriteOutcome& written) {
    const FileReport ended = writtenReport(written, report.encodingWritten);
    report.outcome = ended.outcome;
    report.reason = ended.reason;
    report.failure = ended.failure;
    return report;
}

} // namespace

// A result whole in its temporary file, waiting in a group for its replace: the file read
// stays open (its lease, where one is held, must still be unbroken at the replace), and the
// report is that of a written file until the replace says otherwise.
struct CommitGroup::Waiting {
    std::shared_ptr<const OpenFolder> folder; // the source's, where both files are found
    std::unique_ptr<ReadOnlyFile> source;
    std::unique_ptr<OutputFile> output;
    FileReport report;
    std::function<void(const FileReport&)> done;
};

namespace {

// One file up to the replace of its output: its final report, or (when waiting is given and
// its result may wait for a shared flush) its result left waiting there.
FileReport prepareFile(const std::filesystem::path& sourcePath,
                       const std::filesystem::path& outputPath, const QuoteReplacer& rule,
                       const FileHooks& hooks, const FileOptions& options,
                       std::unique_ptr<CommitGroup::Waiting>* waiting,
                       std::shared_ptr<const OpenFolder> folder) {
    // The file's folder is opened once: what the name is, the open and, in place, the whole
    // replace find the name there, none of them walking the path again.
    if (!folder)
        folder = std::make_shared<const OpenFolder>(sourcePath);
    // A pipe could keep the run waiting for ever and a device never end, and neither is
    // the user's text: they are left alone without being opened.
    if (isSpecialFile(*folder, sourcePath))
        return FileReport(FileOutcome::NotAFile, "it is a pipe, socket or device, not a file");
    const bool inPlace = isSourceName(sourcePath, outputPath);
    const FileInProgress inProgress;

    // A rule whose pieces stand alone works on the file's own bytes where the encoding
    // allows it: nothing is decoded and encoded again only to come out the same.
    SourceReader read(sourcePath, rule.piecesStandAlone(), folder->handle());
    if (read.failed())
        return notRead(read.failure());
    // In place, what another program writes to the file would be lost with the file it
    // writes to: a file open for writing elsewhere is left alone, and the lease taken (where
    // the system grants one) tells at the replace whether a writer came meanwhile. A result
    // that is only compared replaces nothing, and needs no lease.
    if (inPlace && !options.compareOnly &&
        read.source().file->takeReadLease() == ReadOnlyFile::Lease::Busy)
        return FileReport(FileOutcome::InUse, InUseReason);

    // Nothing takes the output's place when the result is only compared: the caller is not
    // asked before it.
    FileHooks runHooks = hooks;
    if (options.compareOnly)
        runHooks.beforeReplace = nullptr;
    TextRun run(read, rule, runHooks, options.lineEnds);
    FileReport report;
    if (!run.takeFirstBlock()) {
        report = read.failed() ? notRead(read.failure())
                               : FileReport(FileOutcome::NotText, run.notText());
    } else {
        OutputTarget where = targetFor(read.source(), inPlace, options.backupSuffix);
        where.compareOnly = options.compareOnly;
        // The wait for the disk at the end of a large file is the caller's too.
        if (hooks.afterBlock)
            where.whileWaiting = [&] { hooks.afterBlock(read.source().file->size()); };
        const TextPieces pieces = [&](PieceSink& sink) { return run.transform(sink); };
        PreparedOutput prepared;
        if (waiting)
            prepared = PrepareOutput(outputPath, run.encoding(), pieces, std::move(where));
        else
            prepared.outcome = WriteOutput(outputPath, run.encoding(), pieces, std::move(where));
        report = reportOf(read, run, prepared.outcome);
        if (prepared.waiting) {
            *waiting = std::make_unique<CommitGroup::Waiting>();
            (*waiting)->folder = std::move(folder);
            (*waiting)->source = std::move(read.source().file);
            (*waiting)->output = std::move(prepared.waiting);
        }
    }
    report.formatRead = read.blocks().format();
    report.utf8Road = run.utf8Road();
    if (waiting && *waiting)
        (*waiting)->report = report;
    return report;
}

} // namespace

FileReport ProcessFile(const std::filesystem::path& sourcePath,
                       const std::filesystem::path& outputPath, const QuoteReplacer& rule,
                       const FileHooks& hooks, const FileOptions& options) {
    return prepareFile(sourcePath, outputPath, rule, hooks, options, nullptr, nullptr);
}

// A full group being flushed and put in place by a thread of its own.
struct CommitGroup::Flight {
    std::vector<std::unique_ptr<Waiting>> files;
    std::thread thread;
    std::atomic<bool> over{false};
    std::exception_ptr failure;
};

CommitGroup::CommitGroup(size_t capacity, bool overlapped)
    : capacity_(std::max<size_t>(capacity, 1)), overlapped_(overlapped) {
    // Room for every group in flight, the last one included, so that a thread once started
    // is always kept.
    inFlight_.reserve(GroupsInFlight + 1);
}

CommitGroup::~CommitGroup() {
    try {
        finish();
    } catch (...) {
        // Only a limit (no memory) could throw here; the results left are dropped, their
        // outputs untouched, as at an interruption.
        awaitAllQuietly();
    }
}

std::shared_ptr<const OpenFolder> CommitGroup::folderOf(const std::filesystem::path& sourcePath) {
    const auto& text = sourcePath.native();
    const size_t end = text.rfind(std::filesystem::path::value_type('/'));
    const size_t length = end == text.npos ? 0 : end + 1;
    if (!folder_ || folderText_.size() != length || text.compare(0, length, folderText_) != 0) {
        folder_ = std::make_shared<const OpenFolder>(sourcePath);
        folderText_.assign(text, 0, length);
    }
    return folder_;
}

void CommitGroup::process(const std::filesystem::path& sourcePath,
                          const std::filesystem::path& outputPath, const QuoteReplacer& rule,
                          const FileHooks& hooks, const FileOptions& options,
                          std::function<void(const FileReport&)> done) {
    if (full()) {
        if (overlapped_)
            commitInBackground();
        else
            commit();
    }
    std::unique_ptr<Waiting> waiting;
    const FileReport report =
        prepareFile(sourcePath, outputPath, rule, hooks, options, &waiting, folderOf(sourcePath));
    if (!waiting) {
        done(report);
        return;
    }
    waiting->done = std::move(done);
    waiting_.push_back(std::move(waiting));
}

void CommitGroup::awaitOldest() {
    const std::unique_ptr<Flight> oldest = std::move(inFlight_.front());
    inFlight_.erase(inFlight_.begin());
    oldest->thread.join();
    if (oldest->failure)
        std::rethrow_exception(oldest->failure);
}

void CommitGroup::awaitAll() {
    while (!inFlight_.empty())
        awaitOldest();
}

void CommitGroup::awaitAllQuietly() noexcept {
    for (const std::unique_ptr<Flight>& flight : inFlight_)
        flight->thread.join();
    inFlight_.clear();
}

void CommitGroup::commitInBackground(bool last) {
    // The groups already put in place give their threads back first.
    while (!inFlight_.empty() && inFlight_.front()->over.load())
        awaitOldest();
    if (inFlight_.size() >= GroupsInFlight + (last ? 1 : 0))
        awaitOldest();
    auto flight = std::make_unique<Flight>();
    flight->files = std::exchange(waiting_, {});
    Flight* const running = flight.get();
    try {
        running->thread = std::thread([this, running] {
            try {
                commitResults(std::move(running->files));
            } catch (...) {
                running->failure = std::current_exception();
            }
            running->over.store(true);
        });
    } catch (const std::system_error&) {
        // No thread to be had (a limit on processes): the group is committed here.
        commitResults(std::move(flight->files));
        return;
    }
    inFlight_.push_back(std::move(flight));
}

void CommitGroup::commit() {
    awaitAll();
    commitResults(std::exchange(waiting_, {}));
}

void CommitGroup::commitResults(std::vector<std::unique_ptr<Waiting>> files) {
    if (files.empty())
        return;
    // The names given before this group's flush begins are the ones it makes durable.
    std::vector<std::filesystem::path> named;
    {
        const std::lock_guard<std::mutex> lock(namedLock_);
        named = std::exchange(namedIn_, {});
    }
    // One flush for the whole group, before any replace (a file alone makes its own).
    std::vector<unsigned long long> flushed;
    if (files.size() > 1) {
        std::vector<int> handles;
        for (const auto& file : files)
            handles.push_back(file->output->temporaryHandle());
        if (FlushTogether(handles, &flushed))
            for (const auto& file : files)
                file->output->flushedAlready();
    }
    FlushFolders(named, flushed);
    for (const auto& file : files) {
        const WriteOutcome written = CommitOutput(*file->output);
        const FileReport report = afterReplace(file->report, written);
        if (!written.newNameIn.empty()) {
            const std::lock_guard<std::mutex> lock(namedLock_);
            if (std::find(namedIn_.begin(), namedIn_.end(), written.newNameIn) == namedIn_.end())
                namedIn_.push_back(written.newNameIn);
        }
        file->output.reset();
        file->source.reset();
        file->done(report);
    }
}

void CommitGroup::finish() {
    // The last group, however small, is flushed beside those still in flight rather than
    // after them.
    if (overlapped_ && !waiting_.empty())
        commitInBackground(true);
    commit();
    // The new names are made durable too, once for each folder that received one.
    FlushFolders(std::exchange(namedIn_, {}));
}

} // namespace parvello
