# Cross-building for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix),
# the variant with POSIX threads, which std::thread and std::mutex need. The C++ runtime
# is linked in statically, so each .exe runs on its own, with no DLL beside it. Tests run
# under Wine: CTest starts each through CMAKE_CROSSCOMPILING_EMULATOR.
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DPARVELLO_ENGINE_ONLY=ON
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PARVELLO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PARVELLO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PARVELLO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PARVELLO_MINGW_PREFIX}-windres)

# Libraries and headers of the target only; programs (the build's tools) of the host.
set(CMAKE_FIND_ROOT_PATH /usr/${PARVELLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc, libstdc++ and winpthread inside the .exe: it then imports only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Debian installs the 64-bit loader as /usr/lib/wine/wine64 only.
find_program(PARVELLO_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(PARVELLO_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${PARVELLO_WINE})
endif()
