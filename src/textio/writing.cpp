#include "textio/writing.h"

#include "base/filestatus.h"
#include "base/portable.h"
#include "base/win32.h"
#include "textio/fileerror.h"
#include "textio/outputfile.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <type_traits>
#include <utility>

#if defined(PARVELLO_OS_UNIX)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(PARVELLO_OS_WINDOWS)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

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

// A piece appended in place to an existing file (a piece number above 1), with the
// system's own calls: one open for appending (the file is created where it is missing) and
// one write of the whole piece.
class AppendFile {
public:
    AppendFile(const std::filesystem::path& path, OutputEncoding encoding)
        : path_(path), encoder_(encoding) {}
    ~AppendFile() { close(); }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    void open() {
        const FileStatus info = FileStatus::Of(path_);
        // Opening a pipe to write would wait for a reader: only a file is appended to.
        if (info.exists() && !info.isRegular() && !info.isFolder())
            throw FileError(FileProblem::Denied,
                            "Cannot open " + DescribedPath(path_) +
                                ": it is a pipe, socket or device, not a file",
                            "it is a pipe, socket or device, not a file");
        if (info.exists() && info.unwritable())
            throw FileError(FileProblem::Denied,
                            "Permission denied: " + DescribedPath(path_) + " is read-only",
                            "it is read-only");
        if (!openForAppend()) {
            const std::string words = error_;
            std::error_code error;
            const std::filesystem::path absolute = std::filesystem::absolute(path_, error);
            if (!FileStatus::Of(absolute.parent_path()).isFolder())
                throw FileError(FileProblem::PathNotFound,
                                "Path not found: " + DescribedPath(path_),
                                "No such file or directory");
            throw FileError(FileProblem::Denied,
                            "Cannot open " + DescribedPath(path_) + ": " + words, words);
        }
        // A file that this piece creates begins with the mark; appending adds none.
        if (empty_)
            bytes_.append(encoder_.mark());
    }
    bool write(std::u16string_view text) { return encoder_.append(text, bytes_); }
    void writeBytes(std::string_view bytes) { bytes_.append(bytes); }
    bool endText() { return true; }
    void restart(OutputEncoding encoding) {
        encoder_ = TextEncoder(encoding);
        bytes_.clear();
        if (empty_)
            bytes_.append(encoder_.mark());
    }
    OutputFile::Result commit() {
        if (!writeAll())
            ThrowIoFailure(error_, path_);
        close();
        return OutputFile::Result::Written;
    }
    void discard() { close(); }

private:
#if defined(PARVELLO_OS_UNIX)
    bool openForAppend() {
        do
            fd_ = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        while (fd_ < 0 && errno == EINTR);
        if (fd_ < 0)
            return failed(errno);
        struct stat status;
        empty_ = ::fstat(fd_, &status) == 0 && status.st_size == 0;
        return true;
    }
    bool writeAll() {
        for (std::size_t done = 0; done < bytes_.size();) {
            const ssize_t n = ::write(fd_, bytes_.data() + done, bytes_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return failed(n < 0 ? errno : ENOSPC);
            done += std::size_t(n);
        }
        return true;
    }
    void close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    bool failed(int error) {
        error_ = std::generic_category().message(error);
        return false;
    }
    int fd_ = -1;
#elif defined(PARVELLO_OS_WINDOWS)
    bool openForAppend() {
        handle_ = CreateFileW(win32::SystemPath(path_).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) {
            handle_ = nullptr;
            return failed();
        }
        LARGE_INTEGER size;
        empty_ = GetFileSizeEx(handle_, &size) && size.QuadPart == 0;
        return true;
    }
    bool writeAll() {
        for (std::size_t done = 0; done < bytes_.size();) {
            const DWORD want = DWORD(std::min<std::size_t>(bytes_.size() - done, 1u << 30));
            DWORD wrote = 0;
            if (!WriteFile(handle_, bytes_.data() + done, want, &wrote, nullptr) || wrote == 0)
                return failed();
            done += wrote;
        }
        return true;
    }
    void close() {
        if (handle_)
            CloseHandle(handle_);
        handle_ = nullptr;
    }
    bool failed() {
        error_ = win32::SystemWords(GetLastError());
        return false;
    }
    HANDLE handle_ = nullptr;
#endif

    std::filesystem::path path_;
    TextEncoder encoder_;
    std::string bytes_;
    std::string error_;  // the system's words for the last failure
    bool empty_ = false; // the file was empty (or just made) when it was opened
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
                             const TextPieces& text, OutputTarget where) {
    PreparedOutput prepared;
    std::unique_ptr<OutputFile> file;
    std::filesystem::path newNameIn;
    prepared.outcome = writeAll<OutputFile>(
        [&]() -> OutputFile& {
            file = std::make_unique<OutputFile>(path, encoding, std::move(where));
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
                         const TextPieces& text, OutputTarget where) {
    PreparedOutput prepared = PrepareOutput(path, encoding, text, std::move(where));
    // A result that makes its own flush flushes its folder too, at its commit.
    return prepared.waiting ? CommitOutput(*prepared.waiting) : std::move(prepared.outcome);
}

WriteOutcome AppendOutput(const std::filesystem::path& path, OutputEncoding encoding,
                          std::u16string_view text) {
    std::optional<AppendFile> file;
    return writeAll<AppendFile>(
        [&]() -> AppendFile& {
            file.emplace(path, encoding);
            file->open();
            return *file;
        },
        [text](PieceSink& sink) { return sink.append(text); },
        [](AppendFile& done) { return done.commit(); });
}

} // namespace parvello
