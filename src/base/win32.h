// What the engine's Windows side shares: paths as the W functions take them whatever their
// length, and the system's words for an error code.
#pragma once

#include "base/portable.h"

#if defined(PARVELLO_OS_WINDOWS)

#include <filesystem>
#include <string>

namespace parvello::win32 {

// The path for CreateFileW and the other W functions. From MAX_PATH (260) characters on, the
// absolute path with the "\\?\" prefix ("\\?\UNC\" for a network path), with which the
// system takes paths of any length, as they are: separators made "\" and "." and ".."
// resolved first, since the system no longer does that for such a path. Shorter paths and
// paths that already have the prefix are given as they are.
std::wstring SystemPath(const std::filesystem::path& path);

// The system's words for a Windows error code (FormatMessageW), in UTF-8, without the line
// break they end with.
std::string SystemWords(unsigned long error);

} // namespace parvello::win32

#endif
