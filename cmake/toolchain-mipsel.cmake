# Cross build for the device's CPU: 32-bit little-endian MIPS, with Debian's
# mipsel-linux-gnu toolchain (g++-mipsel-linux-gnu) and its sysroot.
#
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel.cmake
#
# Target binaries run under qemu-user: CMAKE_CROSSCOMPILING_EMULATOR makes
# gtest_discover_tests and ctest start every test binary through qemu-mipsel.
# GoogleTest comes from Debian's multiarch package libgtest-dev:mipsel, found
# under /usr/lib/mipsel-linux-gnu.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(POWERBANK_CROSS_TRIPLE mipsel-linux-gnu)
set(POWERBANK_CROSS_SYSROOT /usr/${POWERBANK_CROSS_TRIPLE}
    CACHE PATH "Root of the target's run-time libraries (dynamic loader, libc)")

set(CMAKE_C_COMPILER ${POWERBANK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${POWERBANK_CROSS_TRIPLE}-g++)
set(CMAKE_AR ${POWERBANK_CROSS_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${POWERBANK_CROSS_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${POWERBANK_CROSS_TRIPLE}-strip CACHE FILEPATH "")

# Libraries, headers and CMake packages come from the target's directories
# only (the cross sysroot, Debian's multiarch folders and the target's trees
# the caller names); programs run during the build are the host's own. Every
# search path is taken inside a root, so a prefix such as a staging
# directory's usr/ (-DCMAKE_PREFIX_PATH=/path/to/staging/usr) is a root too.
set(CMAKE_LIBRARY_ARCHITECTURE ${POWERBANK_CROSS_TRIPLE})
list(APPEND CMAKE_FIND_ROOT_PATH ${POWERBANK_CROSS_SYSROOT} /usr/lib/${POWERBANK_CROSS_TRIPLE}
     ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
# Multiarch packages (libgtest-dev:mipsel) keep their CMake files in
# /usr/lib/mipsel-linux-gnu/cmake; the host's own copies in
# /usr/lib/x86_64-linux-gnu must never be picked up.
list(APPEND CMAKE_PREFIX_PATH /usr/lib/${POWERBANK_CROSS_TRIPLE}/cmake)

# qemu-user runs the target's binaries; -L points it at the target's dynamic
# loader and libraries. binfmt_misc is not relied upon: a test that starts a
# target program itself passes it through POWERBANK_CROSS_EMULATOR.
find_program(POWERBANK_QEMU qemu-mipsel)
if(POWERBANK_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${POWERBANK_QEMU} -L ${POWERBANK_CROSS_SYSROOT})
endif()

# The device's C library (musl) has a 64-bit off_t on 32-bit CPUs; glibc gives
# the same only on request. Without it readdir() fails with EOVERFLOW under
# qemu-user, whose host file system hands out 64-bit directory offsets. (A
# 64-bit time_t is left out: it renames the time calls that the simulated
# board's preload library stands in for.)
set(CMAKE_C_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-D_FILE_OFFSET_BITS=64")
