// What the system says about one file: its kind, which file it is, its mode, owner, size and
// times. The core asks for a file's status through FileStatus::Of, so that the kinds, the
// identity and the nanoseconds of the times are read the same way everywhere.
#pragma once

#include "base/portable.h"

#include <filesystem>
#include <string>

#if defined(PARVELLO_OS_UNIX)
struct stat;
#endif

namespace parvello {

enum class FileKind {
    Missing, // nothing could be asked: see FileStatus::error
    Regular,
    Folder,
    Link,  // only when links are not followed
    Other, // a pipe, socket or device
};

// Which file it is, whatever name reaches it: the device and inode.
struct FileId {
    unsigned long long device = 0;
    unsigned long long inode = 0;

    bool operator==(const FileId&) const = default;
    // "inode:<device>:<inode>", the form lists of files are keyed by.
    std::string text() const;
};

// A time as the system keeps it, to the nanosecond where it has them.
struct FileTime {
    long long seconds = 0;
    long long nanoseconds = 0;

    bool operator==(const FileTime&) const = default;
};

enum class Links {
    Follow,     // the status of what the links lead to
    DoNotFollow // a link at the name's end is itself the answer
};

enum class Attributes {
    Skip,
    Read // fill FileStatus::appendOnly too
};

struct FileStatus {
    FileKind kind = FileKind::Missing;
    int error = 0;     // the system's error number when kind is Missing, else 0
    unsigned type = 0; // the file-type bits of the mode, as the system gives them
    unsigned mode = 0; // the permission bits, with the set-user, set-group and sticky bits
    unsigned owner = 0;
    unsigned group = 0;
    unsigned long long links = 0; // how many names the file has
    FileId id;
    long long size = 0;
    FileTime modified; // the content last changed
    FileTime changed;  // the status (content, names, owner, mode) last changed
    // The append-only attribute: names may be added but neither replaced nor removed. Read
    // only when asked for (FileAttributes::Read), on systems that tell it; false otherwise.
    bool appendOnly = false;

    bool operator==(const FileStatus&) const = default;

    // The status of what a path names (its bytes reach the system as they are). On Windows
    // the identity is the volume's serial number and the file's index, the times are in
    // 100-nanosecond steps since 1601, and there is no owner, group or append-only attribute.
    static FileStatus Of(const std::filesystem::path& path, Links links = Links::Follow,
                         Attributes attributes = Attributes::Skip);
#if defined(PARVELLO_OS_UNIX)
    // The status of an open file.
    static FileStatus Of(int descriptor);
    // The status of `name` in the open folder `folder` (AT_FDCWD: the working folder), or of
    // the folder itself for an empty name.
    static FileStatus At(int folder, const char* name, Links links = Links::Follow,
                         Attributes attributes = Attributes::Skip);
    // A status the system has already given.
    static FileStatus From(const struct stat& status);
#elif defined(PARVELLO_OS_WINDOWS)
    // The status of an open file (its HANDLE).
    static FileStatus OfHandle(void* handle);
#endif

    bool exists() const {
        return kind != FileKind::Missing;
    }
    bool isRegular() const {
        return kind == FileKind::Regular;
    }
    bool isFolder() const {
        return kind == FileKind::Folder;
    }
    bool isLink() const {
        return kind == FileKind::Link;
    }
    // No permission bit for writing, for anyone.
    bool unwritable() const {
        return (mode & 0222) == 0;
    }
};

} // namespace parvello
