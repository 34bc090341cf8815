// What the Unix side of AtomicFile shares between its files (atomicfile.cpp, and the copies
// in atomicfile_copies.cpp and atomicfile_flush.cpp). Internal to src/textio.
#pragma once

#include "base/portable.h"

#include <atomic>
#include <string>

namespace parvello::atomicfile_unix {

// The folder of a path: "." for a bare name, "/" for a file at the root.
std::string folderOf(const std::string& target);
// A file larger than the process may write (ulimit -f) is a failed write like any other, not
// the end of the program: the signal that would end it is ignored, unless the program handles
// it itself, and the write then fails with EFBIG.
void ignoreFileSizeSignal();
// Whether names in the folder may be added but neither replaced nor removed (the append-only
// attribute).
// `name` in the open folder `folder` (AT_FDCWD for a path; an empty name for that folder).
bool folderAppendOnly(int folder, const char* name);
// The flush of a file's data to the disk (fdatasync where the system has it).
int syncToDisk(int fd);
// For tests: milliseconds every flush to the disk takes at least (0: no delay).
extern std::atomic<int> slowDisk;
#if defined(PARVELLO_OS_LINUX)
// Whether the file system of `device`, which holds the open file fd, keeps its files in
// memory only (tmpfs, ramfs), where a flush to the disk does nothing.
bool memoryOnly(int fd, unsigned long long device);
#endif

} // namespace parvello::atomicfile_unix
