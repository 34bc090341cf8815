// What went wrong with a file, told without any window: the error the file routines throw,
// and the value one file's processing reports when a step of it failed.
#pragma once

#include <QFileDevice>
#include <QString>

#include <exception>
#include <stdexcept>

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
// said nothing ("No such file or directory", "it is read-only").
class FileError : public std::runtime_error {
public:
    FileError(FileProblem problem, const QString& description, const QString& reason = {});
    FileProblem problem() const { return problem_; }
    const QString& description() const { return description_; }
    const QString& reason() const { return reason_; }

private:
    FileProblem problem_;
    QString description_;
    QString reason_;
};

// Throws the failure for a file that could not be opened: "File not found", "Path not
// found", "Permission denied", or the system's own description.
[[noreturn]] void ThrowOpenFailure(const QFileDevice& file, const QString& path);
// The same with the system's description of why the file did not open.
[[noreturn]] void ThrowOpenFailure(const QString& errorString, const QString& path);

// Throws the failure for a read or write that broke off.
[[noreturn]] void ThrowIoFailure(const QFileDevice& file, const QString& path);
// The same with the system's description of what went wrong.
[[noreturn]] void ThrowIoFailure(const QString& errorString, const QString& path);

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
    QString description;
    QString reason;

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
