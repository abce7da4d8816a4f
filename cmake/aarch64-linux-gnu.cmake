# Cross-compiling for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) and the arm64 libraries installed beside the
# system's own (multiarch: dpkg --add-architecture arm64, then the :arm64
# -dev packages). The `aarch64` preset uses it; scripts/aarch64-check
# installs what it needs.
#
# The programs run under qemu's user-mode emulator: ctest starts each test
# program through CMAKE_CROSSCOMPILING_EMULATOR, and the tests that start
# programs themselves take it from SHALLOW_WATER_EMULATOR. The loader and
# the C library are the multiarch ones (libc6:arm64, in /lib): the cross
# compiler's own copies (qemu's -L /usr/aarch64-linux-gnu) are another
# build of the C library, and a loader of one build with the C library of
# the other hangs in the first thread a program starts.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# Libraries and packages from /usr/lib/aarch64-linux-gnu, never the host's.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_IGNORE_PREFIX_PATH /usr/lib/x86_64-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
# The Debian package's architecture name.
set(SHALLOW_WATER_DEBIAN_ARCHITECTURE arm64)

find_program(SHALLOW_WATER_QEMU NAMES qemu-aarch64 qemu-aarch64-static)
if(SHALLOW_WATER_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${SHALLOW_WATER_QEMU})
endif()
