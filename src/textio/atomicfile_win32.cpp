// The replace of a file on Windows. The result goes to a new file beside the target, created
// exclusively under a fresh name (TemporaryNameBeside) with the target's hidden, system and
// archive attributes, written through a descriptor of the C runtime, flushed
// (FlushFileBuffers), and renamed over the target through its own handle with POSIX semantics
// where the system offers them (the name changes hands in one step, even while another
// program holds the old file open), else by MoveFileExW. ReplaceFileW is never used: it is not
// one step on every system that offers it, and some ignore its flags.
#include "textio/atomicfile.h"

#include "base/filestatus.h"
#include "base/win32.h"
#include "textio/atomicfile_unix.h"
#include "textio/bufferpool.h"
#include "textio/leftovers.h"
#include "textio/writebehind.h"

#if defined(PARVELLO_OS_WINDOWS)

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace parvello {

using atomicfile_unix::slowDisk;
using win32::SystemPath;
using win32::SystemWords;

namespace {

// The rename with flags and its flags (winbase.h names them only for newer systems).
constexpr auto RenameInfoEx = FILE_INFO_BY_HANDLE_CLASS(22); // FileRenameInfoEx
constexpr DWORD RenameReplaceIfExists = 0x1;                 // FILE_RENAME_FLAG_REPLACE_IF_EXISTS
constexpr DWORD RenamePosixSemantics = 0x2;                  // FILE_RENAME_FLAG_POSIX_SEMANTICS

// Whether the rename through the file's handle is offered (unknown, no, yes): a system that
// does not know FileRenameInfoEx says so once, and MoveFileExW serves from then on.
std::atomic<int> renameByHandle{-1};

// The attributes a result keeps from the file it replaces. Read-only is not among them: such
// a target is refused.
constexpr DWORD KeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

// A copy refused because the target is no longer the file expected (an application's code,
// bit 29, so that it is no code of the system's).
constexpr DWORD NotTheTarget = 0x20000001;

void slowDiskDelay() {
    if (const int delay = slowDisk.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
}

// Whether the file at a path is read-only.
bool readOnly(const std::filesystem::path& path) {
    const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

// Whether an open file is still the one expected. Where the caller could not say which file
// it expects, nothing is compared.
bool stillExpected(HANDLE handle, const FileIdentity& expected) {
    return !expected.known || FileIdentity::Of(FileStatus::OfHandle(handle)) == expected;
}

// Whether a hard link was refused because the file system allows none here (FAT, a share):
// the backup is then a copy.
bool linkRefused(DWORD error) {
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION ||
           error == ERROR_TOO_MANY_LINKS || error == ERROR_NOT_SAME_DEVICE ||
           error == ERROR_ACCESS_DENIED;
}

bool nameTaken(DWORD error) {
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

// Copies what remains to be read of `in` to `out`; 0, or the system's error code.
DWORD copyAll(HANDLE in, HANDLE out) {
    constexpr std::ptrdiff_t Piece = 1 << 18;
    const PooledBuffer buffer(Piece);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer.data(), DWORD(Piece), &got, nullptr))
            return GetLastError();
        if (got == 0)
            return 0;
        for (DWORD done = 0; done < got;) {
            DWORD put = 0;
            if (!WriteFile(out, buffer.data() + done, got - done, &put, nullptr))
                return GetLastError();
            done += put;
        }
    }
}

} // namespace

// Windows has no file without a name: every temporary file here is a named one.
void AtomicFile::AllowUnnamedFiles(bool) {}

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    cancel();
}

void AtomicFile::failWith(unsigned long error) {
    error_ = SystemWords(error);
}

void* AtomicFile::fileHandle() const {
    return fd_ >= 0 ? reinterpret_cast<void*>(_get_osfhandle(fd_)) : nullptr;
}

// Creates a new file at `name` for reading, writing and renaming, as a descriptor of the C
// runtime (which writes in binary, as it is told nothing else); a private one goes when it is
// closed. 0, or the system's error code.
unsigned long AtomicFile::create(const std::filesystem::path& name, unsigned long attributes,
                                 bool privateFile) {
    const DWORD flags = attributes | (privateFile ? FILE_FLAG_DELETE_ON_CLOSE : 0);
    const HANDLE handle =
        CreateFileW(SystemPath(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return GetLastError();
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), 0);
    if (fd < 0) {
        CloseHandle(handle);
        return ERROR_TOO_MANY_OPEN_FILES;
    }
    fd_ = fd;
    return 0;
}

bool AtomicFile::open(bool targetExists, unsigned) {
    cancel();
    written_ = 0;
    behindRefused_ = false;
    folderRefused_ = false;
    intoTarget_ = false;
    targetExisted_ = targetExists;
    RemoveLeftoversBeside(target_);
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (targetExists) {
        const DWORD now = GetFileAttributesW(SystemPath(target_).c_str());
        if (now != INVALID_FILE_ATTRIBUTES && (now & KeptAttributes) != 0)
            attributes = now & KeptAttributes;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path name = TemporaryNameBeside(target_);
        const DWORD error = create(name, attributes, false);
        if (error == 0) {
            temporaryName_ = std::move(name);
            return true;
        }
        if (!nameTaken(error)) {
            folderRefused_ = error == ERROR_ACCESS_DENIED;
            failWith(error);
            return false;
        }
    }
    failWith(ERROR_FILE_EXISTS);
    return false;
}

bool AtomicFile::openToWriteInto(const FileIdentity& expected) {
    cancel();
    written_ = 0;
    behindRefused_ = false;
    folderRefused_ = false;
    intoTarget_ = true;
    targetExisted_ = true;
    expectedTarget_ = expected;
    // A private file, gone when it is closed (also when the run is killed), in the target's
    // folder or else in the temporary folder.
    std::filesystem::path places[2] = {target_.parent_path(), {}};
    if (places[0].empty())
        places[0] = ".";
    std::error_code ignored;
    places[1] = std::filesystem::temp_directory_path(ignored);
    DWORD error = ERROR_PATH_NOT_FOUND;
    for (const std::filesystem::path& place : places) {
        for (int attempt = 0; attempt < 100 && !place.empty(); ++attempt) {
            error = create(TemporaryNameBeside(place / "x"), FILE_ATTRIBUTE_TEMPORARY, true);
            if (error == 0)
                return true;
            if (!nameTaken(error))
                break;
        }
    }
    failWith(error);
    return false;
}

bool AtomicFile::rewind() {
    written_ = 0;
    if (!finishWrites())
        return false;
    if (_chsize_s(fd_, 0) == 0 && _lseeki64(fd_, 0, SEEK_SET) == 0)
        return true;
    fail(errno);
    return false;
}

int AtomicFile::handle() const {
    return fd_;
}

void AtomicFile::onDevice(unsigned long long) {}

FileIdentity AtomicFile::identityAtTarget() const {
    return FileIdentity::AtName(target_);
}

// Each file is flushed on its own on Windows, by FlushTogether or at its commit.
bool AtomicFile::mayShareFlush() {
    return fd_ >= 0 && !behind_ && !intoTarget_;
}

bool AtomicFile::flushesNothing() {
    return false;
}

bool AtomicFile::commit(const std::function<bool()>& stillSafe,
                        const std::function<void()>& beforeWriting) {
    const bool flushed = std::exchange(flushedAlready_, false);
    if (const std::optional<bool> done = startCommit(stillSafe, beforeWriting))
        return *done;
    // As on other systems, a file system that cannot flush is no reason to fail.
    if (!flushed)
        (void)flushWaiting([handle = HANDLE(fileHandle())] {
            slowDiskDelay();
            return FlushFileBuffers(handle) != 0;
        });
    if (!checkStillSafe(stillSafe))
        return false;
    if (!backup_.empty() && !makeBackup(false)) {
        cancel();
        return false;
    }
    if (!replaceTarget()) {
        cancel();
        return false;
    }
    // NTFS writes a change of a folder's names to its journal before the change is seen, so a
    // folder needs no flush of its own (nor has Windows one to give): folderFlushed() stays false.
    renamed_ = true;
    return true;
}

// Renames the finished temporary file over the target. A read-only target is refused as the
// system's own rename refuses it (some systems' MoveFileExW would replace it all the same).
bool AtomicFile::replaceTarget() {
    if (readOnly(target_)) {
        failWith(ERROR_ACCESS_DENIED);
        return false;
    }
    if (renameByHandle.load() != 0) {
        // The new name is a bare name: the file is renamed within its own folder.
        const std::wstring name = target_.filename().native();
        const DWORD nameBytes = DWORD(name.size() * sizeof(wchar_t));
        // FILE_RENAME_INFO with its Flags, and the name after it.
        std::vector<unsigned char> info(sizeof(FILE_RENAME_INFO) + nameBytes, 0);
        auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(info.data());
        const DWORD flags = RenameReplaceIfExists | RenamePosixSemantics;
        std::memcpy(info.data(), &flags, sizeof flags); // the union's Flags
        rename->RootDirectory = nullptr;
        rename->FileNameLength = nameBytes;
        std::memcpy(rename->FileName, name.data(), nameBytes);
        if (SetFileInformationByHandle(fileHandle(), RenameInfoEx, info.data(),
                                       DWORD(info.size()))) {
            renameByHandle = 1;
            temporaryName_.clear();
            // Its data was flushed before the rename: the close has nothing left to fail on.
            _close(fd_);
            fd_ = -1;
            return true;
        }
        const DWORD error = GetLastError();
        if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
            error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED)
            renameByHandle = 0;
        // Else MoveFileExW says what it makes of it.
    }
    const int closed = _close(fd_);
    fd_ = -1;
    if (closed != 0) {
        fail(errno);
        return false;
    }
    if (!MoveFileExW(SystemPath(temporaryName_).c_str(), SystemPath(target_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        failWith(GetLastError());
        return false;
    }
    temporaryName_.clear();
    return true;
}

// Copies the complete result into the target, which must still be the file expected. Room
// for the result is asked for first, so that a full disk fails before the target's first
// byte changes.
bool AtomicFile::copyIntoTarget(const std::function<void()>& beforeWriting) {
    if (beforeWriting)
        beforeWriting();
    if (readOnly(target_)) {
        failWith(ERROR_ACCESS_DENIED);
        return false;
    }
    const HANDLE out = CreateFileW(SystemPath(target_).c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        failWith(GetLastError());
        return false;
    }
    const HANDLE in = fileHandle();
    LARGE_INTEGER total{};
    if (!stillExpected(out, expectedTarget_) || !GetFileSizeEx(in, &total)) {
        CloseHandle(out);
        changed_ = true;
        error_ = "it changed while it was being processed";
        return false;
    }
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize = total;
    if (!SetFileInformationByHandle(out, FileAllocationInfo, &room, sizeof room) &&
        GetLastError() == ERROR_DISK_FULL) {
        CloseHandle(out);
        failWith(ERROR_DISK_FULL);
        return false;
    }
    const LARGE_INTEGER start{};
    DWORD error = SetFilePointerEx(in, start, nullptr, FILE_BEGIN) ? 0 : GetLastError();
    if (error == 0)
        error = copyAll(in, out);
    if (error == 0 && (!SetEndOfFile(out) || !FlushFileBuffers(out)))
        error = GetLastError();
    CloseHandle(out);
    if (error != 0) {
        failWith(error);
        error_ += "; the file may now hold only part of its result";
        return false;
    }
    return true;
}

void AtomicFile::keepBackup(const std::filesystem::path& backup, const FileIdentity& expected) {
    backup_ = backup;
    backupOf_ = expected;
}

// Copies the target, which must still be the file expected, to a new file `name` with its
// hidden, system and archive attributes, flushed to the disk. 0, a name taken, NotTheTarget,
// or the system's error code.
unsigned long AtomicFile::copyTargetTo(const std::filesystem::path& name) {
    const HANDLE in = CreateFileW(SystemPath(target_).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return GetLastError();
    BY_HANDLE_FILE_INFORMATION info{};
    if (!stillExpected(in, backupOf_) || !GetFileInformationByHandle(in, &info)) {
        CloseHandle(in);
        return NotTheTarget;
    }
    const DWORD kept = info.dwFileAttributes & KeptAttributes;
    const HANDLE out = CreateFileW(SystemPath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        CloseHandle(in);
        return error;
    }
    DWORD error = copyAll(in, out);
    CloseHandle(in);
    if (error == 0 && !FlushFileBuffers(out))
        error = GetLastError();
    CloseHandle(out);
    if (error != 0)
        DeleteFileW(SystemPath(name).c_str());
    return error;
}

// Makes the backup of the target (see keepBackup): a hard link, or a copy, under a temporary
// name beside it, then renamed over the backup's name.
bool AtomicFile::makeBackup(bool copyOnly) {
    error_.clear();
    const auto failed = [this](DWORD error) {
        error_ = "its backup could not be made: " + SystemWords(error);
        return false;
    };
    bool copy = copyOnly;
    std::filesystem::path temporary;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && nameTaken(error); ++attempt) {
        temporary = TemporaryNameBeside(backup_);
        error = 0;
        if (!copy &&
            !CreateHardLinkW(SystemPath(temporary).c_str(), SystemPath(target_).c_str(), nullptr)) {
            error = GetLastError();
            copy = linkRefused(error);
        }
        if (copy && (error == 0 || linkRefused(error)))
            error = copyTargetTo(temporary);
    }
    if (error == 0 && !copy && backupOf_.known && !linkLeadsToBackedUpFile(temporary)) {
        DeleteFileW(SystemPath(temporary).c_str());
        error = NotTheTarget;
    }
    if (error == NotTheTarget) {
        changed_ = true;
        error_ = "it changed while it was being processed";
        return false;
    }
    if (error != 0)
        return failed(error);
    if (!MoveFileExW(SystemPath(temporary).c_str(), SystemPath(backup_).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        DeleteFileW(SystemPath(temporary).c_str());
        return failed(error);
    }
    return true;
}

void AtomicFile::cancel() {
    behind_.reset(); // what it had still to write goes with the file
    if (fd_ >= 0)
        _close(fd_); // a private file goes with it
    fd_ = -1;
    if (!temporaryName_.empty())
        DeleteFileW(SystemPath(temporaryName_).c_str());
    temporaryName_.clear();
}

// Windows has no flush of a whole file system: each file is flushed on its own, and no
// device is added to `flushed`, since no name is made durable by it. The folders need none
// (see FlushFolders).
bool FlushTogether(const std::vector<int>& handles, std::vector<unsigned long long>* flushed) {
    (void)flushed;
    for (const int fd : handles) {
        const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
        slowDiskDelay();
        if (handle == INVALID_HANDLE_VALUE || !FlushFileBuffers(handle))
            return false;
    }
    return true;
}

// NTFS writes every change of a folder's names to its journal before the change is seen:
// a folder needs no flush of its own there.
void FlushFolders(const std::vector<std::filesystem::path>&,
                  const std::vector<unsigned long long>&) {}

} // namespace parvello

#endif
