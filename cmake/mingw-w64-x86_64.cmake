# Cross-compiling for 64-bit Windows from Linux with Debian's MinGW-w64
# (g++-mingw-w64-x86-64-posix: the posix thread model, which std::thread
# needs). scripts/windows-check uses it:
#
#   cmake -S . -B build/windows/native --toolchain cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_FIND_ROOT_PATH=<prefix with GLFW and GoogleTest built for Windows>
#
# The programs run under Wine: ctest starts each test program through
# CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(SHALLOW_WATER_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SHALLOW_WATER_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SHALLOW_WATER_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${SHALLOW_WATER_MINGW_PREFIX}-windres)
# For the stripped programs of the zip (CPack), whose name CMake does not
# derive from the "-posix" compiler names.
set(CMAKE_STRIP ${SHALLOW_WATER_MINGW_PREFIX}-strip)

# Libraries and headers from the MinGW sysroot and from the prefixes named in
# CMAKE_FIND_ROOT_PATH; programs (the glad generator, Python) from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${SHALLOW_WATER_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Self-contained programs: the C and C++ runtimes and winpthreads linked in,
# so that no MinGW DLL is needed beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

find_program(SHALLOW_WATER_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(SHALLOW_WATER_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SHALLOW_WATER_WINE})
endif()
