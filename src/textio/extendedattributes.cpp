#include "textio/extendedattributes.h"

#include "base/portable.h"

#if defined(PARVELLO_OS_LINUX)
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <sys/xattr.h>
#include <system_error>
#endif

namespace parvello {

#if defined(PARVELLO_OS_LINUX)

namespace {

constexpr char AccessList[] = "system.posix_acl_access";

// Whether the file system keeps no extended attributes at all: then there is nothing to
// carry, and nothing to take away.
bool noAttributesHere(int number) {
    return number == ENOTSUP || number == EOPNOTSUPP;
}

// One of the two lists the system gives: names, NUL after each; or a value. Asked for again
// while it grows between the question of its size and the reading.
template <class Get> bool readGrowing(std::string& into, Get&& get) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const ssize_t size = get(nullptr, 0);
        if (size <= 0) {
            into.clear();
            return size == 0;
        }
        into.resize(size_t(size));
        const ssize_t got = get(into.data(), size_t(size));
        if (got >= 0) {
            into.resize(size_t(got));
            return true;
        }
        if (errno != ERANGE)
            return false;
    }
    return false;
}

std::string failed(std::string_view name, int number) {
    return "its extended attribute " + std::string(name) + " cannot be carried over (" +
           std::generic_category().message(number) + ")";
}

// Whether the new file may hold an access list it took from its folder's default list.
// Asking is cheap; taking one away is a write to the disk's journal on some file systems
// even when there is none, and most folders give none.
bool inheritedAccessList(int file) {
    return ::fgetxattr(file, AccessList, nullptr, 0) >= 0 ||
           (errno != ENODATA && !noAttributesHere(errno));
}

// Carries the attributes `list` and `get` read (as llistxattr and lgetxattr do) over to `to`.
template <class List, class Get> std::string copyAttributes(List&& list, Get&& get, int to) {
    std::string names;
    if (!readGrowing(names, list)) {
        if (!noAttributesHere(errno))
            return "its extended attributes cannot be read (" +
                   std::generic_category().message(errno) + ")";
        names.clear();
    }
    bool accessList = false;
    std::string value;
    // The names, each ended by a NUL.
    for (size_t start = 0, end = 0; start < names.size(); start = end + 1) {
        end = std::min(names.find('\0', start), names.size());
        const std::string name = names.substr(start, end - start);
        // Capabilities only add rights; a default list belongs to folders only.
        if (name.empty() || name == "security.capability" || name == "system.posix_acl_default")
            continue;
        if (!readGrowing(value, [&](char* data, size_t size) { return get(name, data, size); })) {
            if (errno == ENODATA) // gone since it was listed
                continue;
            return failed(name, errno);
        }
        if (::fsetxattr(to, name.c_str(), value.data(), value.size(), 0) != 0)
            return failed(name, errno);
        accessList = accessList || name == AccessList;
    }
    if (!accessList && inheritedAccessList(to) && ::fremovexattr(to, AccessList) != 0 &&
        errno != ENODATA && !noAttributesHere(errno))
        return failed(AccessList, errno);
    return {};
}

} // namespace

std::string CopyExtendedAttributes(const std::filesystem::path& from, int to) {
    return copyAttributes(
        [&](char* data, size_t size) { return ::llistxattr(from.c_str(), data, size); },
        [&](const std::string& name, char* data, size_t size) {
            return ::lgetxattr(from.c_str(), name.c_str(), data, size);
        },
        to);
}

std::string CopyExtendedAttributes(int from, int to) {
    return copyAttributes([&](char* data, size_t size) { return ::flistxattr(from, data, size); },
                          [&](const std::string& name, char* data, size_t size) {
                              return ::fgetxattr(from, name.c_str(), data, size);
                          },
                          to);
}

#else

std::string CopyExtendedAttributes(const std::filesystem::path&, int) {
    return {};
}

std::string CopyExtendedAttributes(int, int) {
    return {};
}

#endif

} // namespace parvello
