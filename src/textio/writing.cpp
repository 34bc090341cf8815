#include "textio/writing.h"

#include "base/platform.h"
#include "base/qtpaths.h"
#include "textio/fileerror.h"
#include "textio/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <optional>
#include <type_traits>

namespace parvello {

namespace {

// Hands the pieces to a file and notes when the encoding refused one.
template <class File> class FileSink final : public PieceSink {
public:
    explicit FileSink(File& file) : file_(file) {}
    bool append(std::u16string_view piece) override {
        if (file_.write(piece))
            return true;
        cannotHold_ = true;
        return false;
    }
    bool appendBytes(std::string_view bytes) override {
        file_.writeBytes(bytes);
        return true;
    }
    void restart(OutputEncoding encoding) override { file_.restart(encoding); }
    // After the last piece: false when the text ends with half a surrogate pair.
    bool finish() {
        cannotHold_ = !file_.endText();
        return !cannotHold_;
    }
    bool cannotHold() const { return cannotHold_; }

private:
    File& file_;
    bool cannotHold_ = false;
};

// A piece appended in place to an existing file (a piece number above 1).
class AppendFile {
public:
    AppendFile(const std::filesystem::path& path, OutputEncoding encoding)
        : path_(path), file_(ToQString(path)), encoder_(encoding) {}

    void open() {
        const QFileInfo info(file_.fileName());
        // Opening a pipe to write would wait for a reader: only a file is appended to.
        if (info.exists() && !info.isFile() && !info.isDir())
            throw FileError(FileProblem::Denied,
                            "Cannot open " + DescribedPath(path_) +
                                ": it is a pipe, socket or device, not a file",
                            "it is a pipe, socket or device, not a file");
        if (info.exists() && (FileAttributes(file_.fileName()) & attributes::ReadOnly))
            throw FileError(FileProblem::Denied,
                            "Permission denied: " + DescribedPath(path_) + " is read-only",
                            "it is read-only");
        if (!file_.open(QIODevice::WriteOnly | QIODevice::Append)) {
            if (!info.absoluteDir().exists())
                throw FileError(FileProblem::PathNotFound,
                                "Path not found: " + DescribedPath(path_),
                                "No such file or directory");
            throw FileError(FileProblem::Denied,
                            "Cannot open " + DescribedPath(path_) + ": " +
                                file_.errorString().toStdString(),
                            file_.errorString().toStdString());
        }
        // A file that this piece creates begins with the mark; appending adds none.
        if (file_.size() == 0)
            bytes_.append(encoder_.mark());
    }
    bool write(std::u16string_view text) { return encoder_.append(text, bytes_); }
    void writeBytes(std::string_view bytes) { bytes_.append(bytes); }
    bool endText() { return true; }
    void restart(OutputEncoding encoding) {
        encoder_ = TextEncoder(encoding);
        bytes_.clear();
        if (file_.size() == 0)
            bytes_.append(encoder_.mark());
    }
    OutputFile::Result commit() {
        if (file_.write(bytes_.data(), qint64(bytes_.size())) != qint64(bytes_.size()))
            ThrowIoFailure(file_.errorString().toStdString(), path_);
        file_.close();
        return OutputFile::Result::Written;
    }
    void discard() { file_.close(); }

private:
    std::filesystem::path path_;
    QFile file_;
    TextEncoder encoder_;
    std::string bytes_;
};

WriteResult resultOf(OutputFile::Result result) {
    return result == OutputFile::Result::Unchanged ? WriteResult::Unchanged
           : result == OutputFile::Result::Differs ? WriteResult::Differs
                                                   : WriteResult::Written;
}

// Opens file, hands it the pieces (none: only the commit) and commits it with commit; a
// failure leaves the target untouched and is told with the step it happened in. A read-only
// target that would change is refused as its open would be.
template <class File>
WriteOutcome writeAll(const std::function<File&()>& open, const TextPieces& text,
                      const std::function<OutputFile::Result(File&)>& commit) {
    WriteOutcome outcome;
    FileStep step = FileStep::OpenOutput;
    File* opened = nullptr;
    try {
        File& file = open();
        opened = &file;
        step = FileStep::Write;
        FileSink sink(file);
        if (text && (!text(sink) || !sink.finish())) {
            if (sink.cannotHold()) {
                file.discard();
                outcome.result = WriteResult::CannotHold;
            }
            return outcome;
        }
        step = FileStep::Commit;
        const OutputFile::Result done = commit(file);
        if constexpr (std::is_same_v<File, OutputFile>)
            if (done == OutputFile::Result::Refused) {
                step = FileStep::OpenOutput;
                file.refuse();
            }
        outcome.result = resultOf(done);
        if constexpr (std::is_same_v<File, OutputFile>)
            outcome.size = file.size();
    } catch (...) {
        // A temporary file made only once the result differed is still part of preparing
        // the output.
        if constexpr (std::is_same_v<File, OutputFile>)
            if (opened && opened->temporaryRefused())
                step = FileStep::OpenOutput;
        outcome.failure = FailureOf(step, std::current_exception());
        outcome.result = outcome.failure.problem == FileProblem::Changed ? WriteResult::Changed
                         : outcome.failure.problem == FileProblem::InUse ? WriteResult::InUse
                                                                         : WriteResult::Failed;
    }
    return outcome;
}

} // namespace

namespace {

// The commit of a result, noting the folder where it took its name by a rename.
OutputFile::Result commitNoting(OutputFile& file, std::filesystem::path& newNameIn) {
    const OutputFile::Result result = file.commit();
    if (file.nameNeedsFlush()) {
        newNameIn = file.targetPath().parent_path();
        if (newNameIn.empty())
            newNameIn = ".";
    }
    return result;
}

} // namespace

PreparedOutput PrepareOutput(const std::filesystem::path& path, OutputEncoding encoding,
                             const TextPieces& text, const OutputTarget& where) {
    PreparedOutput prepared;
    std::unique_ptr<OutputFile> file;
    std::filesystem::path newNameIn;
    prepared.outcome = writeAll<OutputFile>(
        [&]() -> OutputFile& {
            file = std::make_unique<OutputFile>(path, encoding, where);
            file->open();
            return *file;
        },
        text,
        [&](OutputFile& done) {
            done.finishWriting();
            if (!done.mayShareFlush())
                return commitNoting(done, newNameIn);
            done.stopWaitingHook(); // the caller's hook belongs to this call
            prepared.waiting = std::move(file);
            return OutputFile::Result::Written;
        });
    prepared.outcome.newNameIn = newNameIn;
    return prepared;
}

WriteOutcome CommitOutput(OutputFile& file) {
    std::filesystem::path newNameIn;
    WriteOutcome outcome =
        writeAll<OutputFile>([&]() -> OutputFile& { return file; }, {},
                             [&](OutputFile& done) { return commitNoting(done, newNameIn); });
    outcome.newNameIn = newNameIn;
    return outcome;
}

WriteOutcome WriteOutput(const std::filesystem::path& path, OutputEncoding encoding,
                         const TextPieces& text, const OutputTarget& where) {
    PreparedOutput prepared = PrepareOutput(path, encoding, text, where);
    // A result that makes its own flush flushes its folder too, at its commit.
    return prepared.waiting ? CommitOutput(*prepared.waiting) : std::move(prepared.outcome);
}

WriteOutcome AppendOutput(const std::filesystem::path& path, OutputEncoding encoding,
                          QStringView text) {
    std::optional<AppendFile> file;
    return writeAll<AppendFile>(
        [&]() -> AppendFile& {
            file.emplace(path, encoding);
            file->open();
            return *file;
        },
        [text](PieceSink& sink) {
            return sink.append({text.utf16(), size_t(text.size())});
        },
        [](AppendFile& done) { return done.commit(); });
}

} // namespace parvello
