// The file-system questions the folder scan asks: attributes, folder listings, what a path
// leads to. The program uses the real file system; the interface lets the scan's path
// handling in the Windows separator style be exercised on any system. Plain C++: paths
// are the system's own (the bytes of a name on Unix, its UTF-16 units on Windows), so every
// name is listed exactly as it is.
#pragma once

#include "base/fileattributes.h"
#include "base/pathstyle.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace parvello {

// One subfolder as a folder listing reports it.
struct SubFolder {
    std::filesystem::path name;
    bool isLink = false; // reached through a symbolic link or junction
};

// One entry of a folder listing that is not a folder.
struct FileEntry {
    std::filesystem::path name;
    bool isRegularFile = false;
};

// What a path leads to, every link followed.
struct PathTarget {
    // Stands for the file or folder itself, whatever name reaches it (device and inode
    // where the system has them); "" when the path cannot be examined.
    std::string identity;
    bool regularFile = false;
};

// Why a folder could not be listed.
enum class ListingProblem {
    PermissionDenied,
    PathNotFound, // missing, or not a folder
    Other,        // the system's words say which
};

// A folder listing that failed. what() is the one-line description the window shows:
// "Permission denied: <folder>", "Path not found: <folder>" or "Path/File access error:
// <folder> (<the system's words>)", the folder in UTF-8.
class ListingError : public std::runtime_error {
public:
    ListingError(ListingProblem problem, std::filesystem::path folder, std::string systemWords);
    ListingProblem problem() const { return problem_; }
    const std::filesystem::path& folder() const { return folder_; }
    // The system's own words for the failure ("" for the first two problems).
    const std::string& systemWords() const { return words_; }

private:
    ListingProblem problem_;
    std::filesystem::path folder_;
    std::string words_;
};

// A path's attributes that could not be read; what() is "File not found: <path>".
class AttributesError : public std::runtime_error {
public:
    explicit AttributesError(const std::filesystem::path& path);
};

class FolderAccess {
public:
    virtual ~FolderAccess() = default;

    // The separator style of every path handed in and out.
    virtual PathStyle style() const = 0;

    // The attributes of a file or folder as the Windows integer (on Unix: 16 a folder, 32
    // anything else, 2 a name beginning with ".", 1 no write permission, 1024 a link);
    // fails (throws) when they cannot be read.
    virtual int attributes(const std::filesystem::path& path) = 0;

    // True for the root of a drive or file system ("C:\", "/").
    virtual bool isRootFolder(const std::filesystem::path& folder) = 0;

    // The subfolders of a folder (no "." or ".."), hidden ones included, in name order.
    // Throws ListingError when the folder cannot be listed.
    virtual std::vector<SubFolder> subFolders(const std::filesystem::path& folder) = 0;

    // Everything in a folder that is not a folder (hidden files included), in name order,
    // each with whether it is a regular file (as isRegularFile would answer, told by the
    // listing itself where it can). Fails like subFolders.
    virtual std::vector<FileEntry> fileNames(const std::filesystem::path& folder) = 0;

    // True when the path names an existing regular file (a link to one included).
    virtual bool isRegularFile(const std::filesystem::path& path) = 0;

    // The folder's real location with every link resolved, or "" when it cannot be
    // resolved.
    virtual std::filesystem::path resolvedPath(const std::filesystem::path& folder) = 0;

    // What the path leads to; by default its resolved path stands for its identity.
    virtual PathTarget target(const std::filesystem::path& path);
};

// "Name order": the order of the names' UTF-16 units, the order the lists have always had
// (on Unix, UTF-8 names are compared as the UTF-16 text they stand for).
bool NameOrderLess(const std::filesystem::path& a, const std::filesystem::path& b);

// The real file system, in the native separator style, attributes as the system gives them.
std::shared_ptr<FolderAccess> LocalFolderAccess();

} // namespace parvello
