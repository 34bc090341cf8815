// One flush for the results of many files (FlushTogether), and the flush of the folders that
// received their names (FlushFolders).
#include "textio/atomicfile.h"

#include "base/filestatus.h"
#include "textio/atomicfile_unix.h"

#include <algorithm>
#include <chrono>
#include <thread>

#if defined(PARVELLO_OS_UNIX)
#include <fcntl.h>
#include <unistd.h>

namespace parvello {

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
