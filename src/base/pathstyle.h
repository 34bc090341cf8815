#pragma once

// The separator style of paths: the native one, or the other one where a routine's Windows
// behaviour is checked on any system. Plain C++, shared by the engine and the window.

#include "base/portable.h"

namespace parvello {

enum class PathStyle { Windows, Posix };

constexpr PathStyle NativePathStyle() {
#if defined(PARVELLO_OS_WINDOWS)
    return PathStyle::Windows;
#else
    return PathStyle::Posix;
#endif
}

} // namespace parvello
