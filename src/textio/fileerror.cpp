#include "textio/fileerror.h"

#include "base/filestatus.h"

#include <new>
#include <utility>

namespace parvello {

FileError::FileError(FileProblem problem, std::string description, std::string reason)
    : std::runtime_error(description), problem_(problem), description_(std::move(description)),
      reason_(reason.empty() ? description_ : std::move(reason)) {}

std::string DescribedPath(const std::filesystem::path& path) {
#if defined(PARVELLO_OS_WINDOWS)
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
#else
    return path.native();
#endif
}

void ThrowOpenFailure(const std::string& systemWords, const std::filesystem::path& path) {
    // Nothing at the name, not even a link: the file is missing, or the folder it would be in.
    if (!FileStatus::Of(path, Links::DoNotFollow).exists()) {
        const char* const missing = "No such file or directory";
        std::filesystem::path folder = path.parent_path();
        if (folder.empty())
            folder = ".";
        if (!FileStatus::Of(folder).isFolder())
            throw FileError(FileProblem::PathNotFound, "Path not found: " + DescribedPath(path),
                            missing);
        throw FileError(FileProblem::FileNotFound, "File not found: " + DescribedPath(path),
                        missing);
    }
    throw FileError(FileProblem::Denied, "Cannot open " + DescribedPath(path) + ": " + systemWords,
                    systemWords);
}

void ThrowIoFailure(const std::string& systemWords, const std::filesystem::path& path) {
    throw FileError(FileProblem::InputOutput,
                    "Input/output error on " + DescribedPath(path) + ": " + systemWords,
                    systemWords);
}

FileFailure FailureOf(FileStep step, std::exception_ptr error) {
    FileFailure failure;
    failure.step = step;
    try {
        std::rethrow_exception(std::move(error));
    } catch (const FileError& e) {
        failure.problem = e.problem();
        failure.description = e.description();
        failure.reason = e.reason();
    } catch (const std::bad_alloc&) {
        failure.description = "Out of memory";
    } catch (const std::exception& e) {
        failure.description = e.what();
    } catch (...) {
        failure.description = "Unknown failure";
    }
    if (failure.reason.empty())
        failure.reason = failure.description;
    return failure;
}

} // namespace parvello
