// What went wrong with a file, told without any window: the error the file routines throw,
// and the value one file's processing reports when a step of it failed.
#pragma once

#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace parvello {

// The kind of a file failure, for the callers that act on it.
enum class FileProblem {
    Other,
    FileNotFound,
    PathNotFound,
    Denied,          // the system, or the file's read-only attribute, refused it
    Changed,         // the file changed while it was being processed
    InUse,           // another program was writing the file being processed
    NotOpen,         // a file was used that was never opened (after a failed open)
    InputOutput,     // a read or write broke off
    InvalidArgument, // a setting the run depends on is wrong (an unknown code page, say)
};

// A failed file operation. description() is the full sentence with the path ("File not
// found: /a/b.txt"); reason() the system's own words, or a clause of ours where the system
// said nothing ("No such file or directory", "it is read-only"). Both are UTF-8, except that
// on POSIX a path's bytes stand in the description as they are.
class FileError : public std::runtime_error {
public:
    FileError(FileProblem problem, std::string description, std::string reason = {});
    FileProblem problem() const { return problem_; }
    const std::string& description() const { return description_; }
    const std::string& reason() const { return reason_; }

private:
    FileProblem problem_;
    std::string description_;
    std::string reason_;
};

// A path as a description names it: its bytes on POSIX, UTF-8 on Windows.
std::string DescribedPath(const std::filesystem::path& path);

// Throws the failure for a file that could not be opened, given the system's words for why:
// "File not found", "Path not found", or "Cannot open <path>: <the system's words>".
[[noreturn]] void ThrowOpenFailure(const std::string& systemWords,
                                   const std::filesystem::path& path);

// Throws the failure for a read or write that broke off, given the system's words for it.
[[noreturn]] void ThrowIoFailure(const std::string& systemWords, const std::filesystem::path& path);

// The step of one file's processing that failed.
enum class FileStep {
    None,
    Open,       // opening the source and reading its first block
    Read,       // reading a later block
    OpenOutput, // preparing the output (a read-only target that would change is refused here)
    Write,      // handing the result to the output
    Commit,     // flushing the result and putting it in the target's place
};

// One failed step, as a file's report carries it (see FileError for the texts).
struct FileFailure {
    FileStep step = FileStep::None;
    FileProblem problem = FileProblem::Other;
    std::string description;
    std::string reason;

    explicit operator bool() const { return step != FileStep::None; }
    // Whether the target changed, or another program wrote it, while it was processed.
    bool changed() const {
        return problem == FileProblem::Changed || problem == FileProblem::InUse;
    }
};

// The failure of step from any exception: a FileError as it is, running out of memory as
// "Out of memory", anything else by its own text.
FileFailure FailureOf(FileStep step, std::exception_ptr error);

} // namespace parvello
