// The temporary file beside a target that replaces the target in one step.
#pragma once

#include "base/filestatus.h"
#include "base/portable.h"
#include "textio/readonlyfile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace parvello {

class WriteBehind;

// Makes the data written to each open file durable with one flush per file system (syncfs)
// instead of one per file; file systems held in memory only are left out. That flush makes
// every name made on those file systems before it durable too: their devices are added to
// flushed. False when a flush failed: each file must then be flushed on its own. On Windows,
// which has no such flush, the handles (descriptors of the C runtime) are flushed one by one.
bool FlushTogether(const std::vector<int>& handles,
                   std::vector<unsigned long long>* flushed = nullptr);
// Makes the names in each folder durable (one flush of each folder, where the system has
// one); folders on a file system held in memory only, or on a device in alreadyFlushed, are
// left out.
void FlushFolders(const std::vector<std::filesystem::path>& folders,
                  const std::vector<unsigned long long>& alreadyFlushed = {});

// Writes to a temporary file in the target's folder and moves it over the target at
// commit(), after the data has been flushed to the disk; the target is never seen half
// written. A temporary file that is not committed is removed, on every failure and when
// the object goes away. On Unix it is a few system calls of its own: where the system has
// them (Linux), a file without a name in the target's folder, named only when complete, so
// that even a killed run leaves nothing behind; otherwise a new file created exclusively
// under a fresh name; then write, fdatasync, and rename over the target (a new target may
// take its name directly). On Windows (atomicfile_win32.cpp) a new file created exclusively
// under a fresh name, written, flushed (FlushFileBuffers) and renamed over the target.
class AtomicFile {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Creates the temporary file. For a target that exists, permissionBits (the lowest
    // nine mode bits) are given to the temporary file (a folder's default access list may
    // still take some away: compare the bits the file has before the commit); a new one
    // gets the usual bits for a new file. False on failure, see errorString().
    bool open(bool targetExists, unsigned permissionBits);
    // The other way to a target that exists, where a rename cannot serve (a file with other
    // names, which would keep the old text; a folder where no file may be made or replaced):
    // the result is made whole in a private temporary file (in the target's folder without a
    // name where the system allows it, else in the temporary folder) and copied into the
    // target itself at commit(), so that the file keeps its identity, every name of it sees the
    // result, and its owner, access list and attributes stay as they are. The copy is made
    // only while the target is still `expected`, unchanged; it is the one step during which a
    // crash could leave the target cut. False on failure, see errorString().
    bool openToWriteInto(const FileIdentity& expected);
    // Whether the last open() failed because the folder refuses what a rename needs: no file
    // may be made there (no permission), or names there may be added but not replaced or
    // removed (an append-only folder, found out before anything is named).
    bool folderRefused() const { return folderRefused_; }
    // Writes all n bytes; false on failure.
    bool write(const char* data, std::int64_t n);
    // Empties the temporary file, to be written again from its start; false on failure.
    bool rewind();
    // The native handle of the temporary file, for owner and mode changes (on Windows a
    // descriptor of the C runtime).
    int handle() const;
    // The device of the temporary file, as the caller found it through handle(): on a file
    // system that keeps its files in memory only, the commit then leaves out the flush to
    // the disk, which would do nothing there.
    void onDevice(unsigned long long device);
    // Flushes to the disk and moves the temporary file over the target. With stillSafe, the
    // target is replaced only if stillSafe() holds right before: otherwise nothing is
    // replaced and changedMeanwhile() is true. The replace is a rename in the target's
    // folder, which never follows a link at the target's name. False on failure, and the
    // temporary file is then gone.
    // When the result is written into the target (openToWriteInto), beforeWriting runs right
    // after stillSafe() held and before the target is opened for writing.
    bool commit(const std::function<bool()>& stillSafe = {},
                const std::function<void()>& beforeWriting = {});
    // Runs about every 20 ms while a commit waits for a large file's last writes and its
    // flush to the disk, so that a window can answer meanwhile. Must not throw, and must not
    // use this file.
    void whileWaiting(std::function<void()> hook) { whileWaiting_ = std::move(hook); }
    // Whether this result may wait for a flush shared with other files (FlushTogether): a
    // temporary file renamed over its target, with every write already made here (a large
    // file's writes on a thread of their own are finished at its own commit).
    bool mayShareFlush();
    // Whether the temporary file lies on a file system held in memory only, where a flush
    // (of its data or of its folder) does nothing. Asked of the system once.
    bool flushesNothing();
    // The status of the temporary file once it is written: asked of the system once and then
    // kept, for its owner, group, permission bits and device, which only this process may
    // change while the file has no name of its own. Ask again (forgetStatus()) after changing
    // any of them through handle().
#if defined(PARVELLO_OS_UNIX)
    // The target's folder, open already (an OpenFolder's handle, which must outlive this
    // file): the replace happens there, and the folder is not opened again.
    void lendFolder(int folder) {
        lentFolder_ = folder;
    }
    const FileStatus& resultStatus();
    void forgetStatus() {
        statusKnown_ = false;
    }
#endif
    // A flush shared with other files (FlushTogether) made this file's data durable after
    // its last write: commit() then replaces the target without a flush of its own.
    void flushedAlready() {
        flushedAlready_ = true;
    }
    // Whether commit() renamed the temporary file over the target (so the target's folder
    // received a new name, which FlushFolders makes durable).
    bool renamed() const {
        return renamed_;
    }
    // Whether commit() flushed that folder itself (a result that made its own flush).
    bool folderFlushed() const {
        return folderFlushed_;
    }

    // The identity of what the target's name holds now (a link there is itself the answer),
    // asked in the folder where commit() replaces it.
    FileIdentity identityAtTarget() const;
    // Whether the last commit() was refused because stillSafe() no longer held.
    bool changedMeanwhile() const {
        return changed_;
    }
    // Keeps the target that commit() replaces under `backup` (in the target's folder), made
    // right before the replace and only once stillSafe() held: a hard link to the target, or
    // a copy of it where the file system refuses the link or where the result is written into
    // the target (a link would see the new bytes). An existing file at that name is replaced
    // by a rename, so a backup is never seen half made. `expected` is the target as it must
    // still be. When the backup cannot be made the target is not touched and commit() fails
    // with "its backup could not be made: " and the system's words.
    void keepBackup(const std::filesystem::path& backup, const FileIdentity& expected);
    // Removes the temporary file; the target stays as it was.
    void cancel();

    // The system's words for the last failure, or ours (UTF-8).
    const std::string& errorString() const {
        return error_;
    }

    // For tests: whether a file without a name may be used where the system has them
    // (allowed unless told otherwise), so that the named way is tested there too.
    static void AllowUnnamedFiles(bool allowed);
    // For tests: runs in every commit() right before stillSafe() is asked, with the target's
    // path, so that a test can change the target between reading and replacing it. Empty
    // (the default) for none; without one a commit costs no call.
    static void SetBeforeReplaceHook(std::function<void(const std::filesystem::path& target)> hook);
    // For tests: every flush to the disk takes at least this long, as on a slow disk (0, the
    // default, for no delay). Even on a file system held in memory.
    static void SetSlowDiskForTests(int milliseconds);

private:
    bool checkStillSafe(const std::function<bool()>& stillSafe);
    std::optional<bool> startCommit(const std::function<bool()>& stillSafe,
                                    const std::function<void()>& beforeWriting);
    // What wait() returns, run on a thread of its own while whileWaiting_ runs here, for a
    // large file whose owner waits on it; else run right here.
    template <class Wait> auto waiting(Wait&& wait);

    std::function<void()> whileWaiting_;

    bool makeBackup(bool copyOnly);
    bool linkLeadsToBackedUpFile(const std::filesystem::path& link) const;
    std::filesystem::path backup_; // empty for none
    FileIdentity backupOf_;

    std::filesystem::path target_;
    std::string error_;
    bool changed_ = false;
    bool hookRan_ = false;
    bool folderRefused_ = false;
    bool flushedAlready_ = false;
    bool renamed_ = false;
    bool folderFlushed_ = false; // commit() flushed the folder of the new name itself
    // The system's words for an error number (of the C runtime on Windows).
    void fail(int number);
    bool finishWrites();
    // Runs a flush to the disk as waiting() runs what it is given; its result.
    bool flushWaiting(const std::function<bool()>& flush);
    bool copyIntoTarget(const std::function<void()>& beforeWriting);
    bool intoTarget_ = false; // written into the target at commit instead of renamed over it
    FileIdentity expectedTarget_;
    bool targetExisted_ = false;
    // The temporary file (on Windows a descriptor of the C runtime over its handle).
    int fd_ = -1;
    // A large file's writes, from its second mebibyte on, go out on a thread of their own.
    std::unique_ptr<WriteBehind> behind_;
    std::int64_t written_ = 0;   // bytes written since the file was opened or emptied
    bool behindRefused_ = false; // the system had no thread to spare for this file
#if defined(PARVELLO_OS_UNIX)
    bool openPrivate();
    static unsigned creationMode(bool targetExists, unsigned permissionBits);
    bool givePermissionBits(bool targetExists, unsigned permissionBits);
    bool nameUnnamedFile();
    void flushFolder();
    int copyTargetTo(const std::string& name);
    std::string temporaryName_; // empty while the file has no name
    bool unnamed_ = false;
    bool syncNeedless_ = false; // on a file system held in memory only
    bool memoryKnown_ = false;  // syncNeedless_ was asked of the system
    FileStatus status_;         // see resultStatus()
    bool statusKnown_ = false;
    // The target's folder, open without being read from open() to the end of the commit:
    // the temporary file, its name, the look at what the target's name holds and the
    // replace are all done in the one folder that was opened, none walking the whole path
    // again. -1 where none is open; each step then takes the whole path.
    int folder_ = -1;
    OpenFolder ownFolder_; // the folder when this file opened it itself
    int lentFolder_ = -1;  // see lendFolder()
    void openFolder();
    void closeFolder();
    int folderHandle() const; // folder_, or AT_FDCWD
    const char* inFolder(const std::string& path) const;
#elif defined(PARVELLO_OS_WINDOWS)
    // The system's words for a Windows error code.
    void failWith(unsigned long error);
    unsigned long create(const std::filesystem::path& name, unsigned long attributes,
                         bool privateFile);
    void* fileHandle() const;
    bool replaceTarget();
    unsigned long copyTargetTo(const std::filesystem::path& name);
    std::filesystem::path temporaryName_; // empty while no named temporary file exists
#endif
};

} // namespace parvello
