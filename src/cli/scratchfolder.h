// The private folder in which --diff and the filter (-) keep the results they compare or
// copy, and the signals that must not leave it behind.
#pragma once

#include <filesystem>
#include <string>

namespace parvello {

// A folder of the running user's in the system's temporary folder ($TMPDIR), named with
// the temporary-file marker of the atomic writer (".~pv", the process id, "-" and six
// letters or digits), so that a run that was killed outright (SIGKILL, a power cut) leaves
// a folder that the next run recognises as its own and removes. It is removed, with all it
// holds, when the object goes and when SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the run
// (see InstallSignalCleanup). One at a time per process.
class ScratchFolder {
public:
    // Removes the folders of earlier runs that are no longer running, then makes this one.
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool isValid() const { return !path_.empty(); }
    // Why the folder could not be made (the system's words).
    const std::string& errorString() const { return error_; }
    std::filesystem::path filePath(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
    std::string error_;
};

// Removes the folders that earlier runs, no longer running, left in the system's temporary
// folder, without making one (for a run that needs none, such as --check).
void RemoveLeftScratchFolders();

// Makes SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the scratch folder before they end the
// process as they would have (so the shell sees 128 + the signal's number). A signal that
// the caller had set to be ignored stays ignored. The handler does only what may be done
// in one: it removes the folder's entries through system calls, then the folder.
void InstallSignalCleanup();

// Whether a signal is ending the run: the other threads, which go on while the scratch
// folder is removed, print nothing more then (their files vanish under them).
bool RunIsEnding();

// Standard output leads to a pipe that nobody reads any more (SIGPIPE was ignored, so the
// write failed with EPIPE): removes the scratch folder and ends the process quietly, as
// the signal would have, with status 128 + SIGPIPE.
[[noreturn]] void StopAtClosedPipe();

} // namespace parvello
