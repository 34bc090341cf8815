// One flush for the results of many files (FlushTogether), the flush of the folders that
// received their names (FlushFolders), and what every flush asks first (memoryOnly).
#include "textio/atomicfile.h"

#include "base/filestatus.h"
#include "textio/atomicfile_unix.h"

#include <algorithm>
#include <chrono>
#include <thread>

#if defined(PARVELLO_OS_UNIX)
#include <fcntl.h>
#include <unistd.h>
#if defined(PARVELLO_OS_LINUX)
#include <linux/magic.h>
#include <mutex>
#include <sys/vfs.h>
#include <vector>
#endif

namespace parvello {

namespace atomicfile_unix {

int syncToDisk(int fd) {
#if defined(PARVELLO_OS_LINUX)
    return ::fdatasync(fd);
#else
    return ::fsync(fd);
#endif
}

#if defined(PARVELLO_OS_LINUX)
// Whether the file system of `device`, which holds the open file fd, keeps its files in
// memory only (tmpfs, ramfs), where a flush to the disk does nothing. The answer for a
// device is kept for a second: a device number freed by an unmount may come back as another
// file system, which must not inherit it for long.
bool memoryOnly(int fd, unsigned long long device) {
    using Clock = std::chrono::steady_clock;
    struct Known {
        unsigned long long device;
        bool memory;
        Clock::time_point asked;
    };
    static std::mutex mutex;
    static std::vector<Known> known;
    const Clock::time_point now = Clock::now();
    {
        const std::lock_guard<std::mutex> lock(mutex);
        for (const Known& k : known)
            if (k.device == device && now - k.asked < std::chrono::seconds(1))
                return k.memory;
    }
    struct statfs system {};
    const bool memory = ::fstatfs(fd, &system) == 0 &&
                        (system.f_type == TMPFS_MAGIC || system.f_type == RAMFS_MAGIC);
    const std::lock_guard<std::mutex> lock(mutex);
    std::erase_if(known, [&](const Known& k) { return k.device == device; });
    if (known.size() < 64)
        known.push_back({device, memory, now});
    return memory;
}
#endif

} // namespace atomicfile_unix

using namespace atomicfile_unix;

bool FlushTogether(const std::vector<int>& handles, std::vector<unsigned long long>* flushed) {
#if defined(PARVELLO_OS_LINUX)
    std::vector<unsigned long long> devices;
    for (const int fd : handles) {
        const FileStatus status = FileStatus::Of(fd);
        if (!status.exists())
            return false;
        const unsigned long long device = status.id.device;
        if (std::find(devices.begin(), devices.end(), device) != devices.end())
            continue;
        devices.push_back(device);
        if (memoryOnly(fd, device) && !slowDisk.load())
            continue;
        if (const int delay = slowDisk.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        if (::syncfs(fd) != 0)
            return false;
        if (flushed)
            flushed->push_back(device);
    }
    return true;
#else
    // Elsewhere each file is flushed at its own commit.
    (void)handles;
    (void)flushed;
    return false;
#endif
}

void FlushFolders(const std::vector<std::filesystem::path>& folders,
                  const std::vector<unsigned long long>& alreadyFlushed) {
    for (const std::filesystem::path& folder : folders) {
        const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const FileStatus status = FileStatus::Of(fd);
        const bool covered =
            status.exists() && std::find(alreadyFlushed.begin(), alreadyFlushed.end(),
                                         status.id.device) != alreadyFlushed.end();
#if defined(PARVELLO_OS_LINUX)
        const bool memory = status.exists() && memoryOnly(fd, status.id.device);
#else
        const bool memory = false;
#endif
        if (!covered && !memory)
            (void)::fsync(fd); // as with the files' own flush, a failure is no reason to fail
        ::close(fd);
    }
}

} // namespace parvello

#endif
