// A file opened for reading, with the failures described in the system's own words.
#pragma once

#include "base/filestatus.h"
#include "base/portable.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace parvello {

// Which file a name led to, and how it was then: two identities are equal only for the same
// file (device and inode), of the same kind, unchanged in between (size, modification and
// change times). An identity that is not known equals only another one not known.
struct FileIdentity {
    bool known = false;
    unsigned type = 0; // the file-type bits of the mode
    unsigned long long device = 0;
    unsigned long long inode = 0;
    long long size = 0;
    long long modified[2] = {0, 0}; // seconds, nanoseconds
    long long changed[2] = {0, 0};
    unsigned mode = 0; // the permission bits, with the set-user, set-group and sticky bits
    unsigned owner = 0;
    unsigned group = 0;
    unsigned long long links = 0; // how many names the file has

    // Not known for a status that could not be read.
    static FileIdentity Of(const FileStatus& status);
#if defined(PARVELLO_OS_UNIX)
    static FileIdentity Of(const struct stat& status);
#endif
    // The identity of what is at the name now, the name itself when it is a symbolic link
    // (not known when nothing is there). On Windows the device is the volume's serial number,
    // the inode the file's index, and a change of the read-only attribute changes the mode.
    static FileIdentity AtName(const std::filesystem::path& path);
    bool operator==(const FileIdentity&) const = default;
};

// A folder held open to find names in (Linux: O_PATH, nothing of it read), so that each step
// on a file in it looks up only the file's own name there, not the whole path again, and all
// of them reach the same folder. Elsewhere, or where it cannot be opened so, there is none:
// handle() is -1, and whole paths are used.
class OpenFolder {
public:
    OpenFolder() = default;
    // The folder of the path's last name ("." for a bare name).
    explicit OpenFolder(const std::filesystem::path& path);
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;
    int handle() const { return fd_; }

private:
    int fd_ = -1;
};

#if defined(PARVELLO_OS_UNIX)
// Where a step on `path` looks: the open folder and the path's last name in it, or, for
// folder -1, the working folder (AT_FDCWD) and the whole path.
int FolderToLook(int folder);
const char* NameToLook(int folder, const std::string& path);
#endif

// The system's own calls: on Unix one open, one status call and reads; on Windows
// CreateFileW and ReadFile.
class ReadOnlyFile {
public:
    // With `folder` (an OpenFolder's handle, which must outlive this file) the file is opened
    // by its name in that folder.
    explicit ReadOnlyFile(std::filesystem::path path, int folder = -1);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Opens the file for reading. Only a regular file is opened: a folder is refused, and a
    // pipe, socket or device too, without waiting on it. With followLinks false a symbolic
    // link at the name is refused as well. False on failure, see errorString().
    bool open(bool followLinks = true);
    // Reads up to max bytes, fewer only at the end of the file; -1 on failure.
    std::int64_t read(char* data, std::int64_t max);
    // The size the file had when it was opened (0 when it has none to report).
    std::int64_t size() const;
    // Back to the first byte; false on failure.
    bool rewind();
    // The identity of the open file as it was when it was opened.
    FileIdentity identity() const;
    // A path to the open file with no symbolic link at its end, so that a file put at that
    // path replaces this file and not a link to it: the name it was opened by where that is
    // not a link, else where the system says the file is (every link and ".." followed);
    // empty when the system cannot tell.
    std::filesystem::path linkFreePath() const;

    // The system's words for the last failure (UTF-8).
    const std::string& errorString() const { return error_; }

    // A read lease on the open file, where the system grants one (Linux, a local file system,
    // the running user owns the file or may take leases): while it is held, no other program
    // has the file open for writing, and one that opens it for writing breaks it.
    enum class Lease {
        Held,
        Busy,        // another program has the file open for writing
        Unavailable, // no lease to be had here: nothing is known either way
    };
    Lease takeReadLease();
    // Whether the lease taken is still unbroken (true where none was taken).
    bool leaseIntact() const;
    // Gives the lease back, so that this process may open the file for writing itself.
    void releaseLease();
    // Closes the file (giving its lease back); reads after it fail.
    void close();

#if defined(PARVELLO_OS_UNIX)
    // The status of the open file, taken when it was opened.
    const FileStatus& status() const {
        return status_;
    }
    // The descriptor of the open file (-1 when none is open), for questions asked of exactly
    // this file; it stays this object's.
    int handle() const {
        return fd_;
    }
    // The open folder the file was opened in by its own name, no link at its end: the
    // folder of linkFreePath(). -1 when there is none.
    int folderOfName() const {
        return fd_ >= 0 && nameIsFile_ ? folder_ : -1;
    }
#endif

private:
    std::filesystem::path path_;
    std::string error_;
#if defined(PARVELLO_OS_UNIX)
    int fd_ = -1;
    int folder_ = -1; // an OpenFolder's, or none
    bool leased_ = false;
    bool nameIsFile_ = false; // opened without following a link at the name's end
    FileStatus status_;
#elif defined(PARVELLO_OS_WINDOWS)
    void* handle_ = nullptr; // the file's HANDLE, null while it is not open
    std::int64_t size_ = 0;
    FileIdentity identity_; // as it was when it was opened
#endif
};

} // namespace parvello
