#pragma once

// What the engine asks of the compiler and the platform, named without Qt, so that the
// engine builds the same with GCC or Clang on Linux and with MinGW-w64 for Windows.

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define PARVELLO_OS_WINDOWS 1
#elif defined(__unix__) || defined(__APPLE__)
#define PARVELLO_OS_UNIX 1
#if defined(__linux__)
#define PARVELLO_OS_LINUX 1
#endif
#endif

// A small function the compiler must inline whatever its own judgement: the inner loops
// of the scans and of the quotes pass rely on it.
#if defined(_MSC_VER)
#define PARVELLO_ALWAYS_INLINE __forceinline
#else
#define PARVELLO_ALWAYS_INLINE inline __attribute__((always_inline))
#endif
