# Cross build for the device's CPU and C library: 32-bit little-endian MIPS
# with musl, as on OpenWrt. Debian's mipsel-linux-gnu cross compilers
# (g++-mipsel-linux-gnu) do the compiling; Debian's musl-dev:mipsel (musl
# 1.2.3, 64-bit time_t) is the C library, linked dynamically against musl's
# loader /lib/ld-musl-mipsel.so.1 (package musl:mipsel).
#
#   cmake -S . -B build-musl -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mipsel-musl.cmake
#
# Against the real libubox and libubus (or any built for mipsel musl) in a
# staging directory, name its install prefix:
#
#   cmake ... -DCMAKE_PREFIX_PATH=/path/to/staging/usr -DPOWERBANK_UBUS=REAL
#
# It builds what runs on a device or a simulated one: the daemon, the store
# library and tool, the bus stand-in and the simulated board. GoogleTest is not
# packaged for musl, so no tests are built here; scripts/test-musl.sh runs the
# host's scenario tests against these binaries under qemu-mipsel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(POWERBANK_CROSS_TRIPLE mipsel-linux-gnu)
set(POWERBANK_MUSL_LIB /usr/lib/mipsel-linux-musl)
set(POWERBANK_MUSL_INCLUDE /usr/include/mipsel-linux-musl)

set(CMAKE_C_COMPILER ${POWERBANK_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${POWERBANK_CROSS_TRIPLE}-g++)
set(CMAKE_AR ${POWERBANK_CROSS_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${POWERBANK_CROSS_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${POWERBANK_CROSS_TRIPLE}-strip CACHE FILEPATH "")

# musl's driver option file (musl-gcc's) turns the glibc cross driver into a
# musl one: -nostdinc with musl's include directory (then gcc's own), and at
# link time -nostdlib with musl's start files, libc.so and loader. libgcc
# comes from the static libgcc.a, so nothing needs libgcc_s.so.
set(_pb_musl "-specs=${POWERBANK_MUSL_LIB}/musl-gcc.specs")

# musl ships no kernel headers. The cross toolchain's linux/, asm/ and
# asm-generic/ (Debian's linux-libc-dev-mipsel-cross) serve, but only those
# folders: the rest of /usr/mipsel-linux-gnu/include is glibc's and must never
# be found. They are linked into a folder of their own, searched after musl's.
set(_pb_kernel_headers ${CMAKE_BINARY_DIR}/musl-kernel-headers)
foreach(_pb_dir linux asm asm-generic)
    if(NOT EXISTS ${_pb_kernel_headers}/${_pb_dir})
        file(MAKE_DIRECTORY ${_pb_kernel_headers})
        file(CREATE_LINK /usr/${POWERBANK_CROSS_TRIPLE}/include/${_pb_dir}
             ${_pb_kernel_headers}/${_pb_dir} SYMBOLIC)
    endif()
endforeach()
set(_pb_musl "${_pb_musl} -idirafter ${_pb_kernel_headers}")

# C++: -nostdinc also drops g++'s own C++ include directories, so they are
# named again; named on the command line they come ahead of musl's (which the
# driver file adds later), as libstdc++'s <cstdlib> and friends need for their
# #include_next. Those headers were configured for glibc: the forced include
# answers their __GLIBC_PREREQ questions (see cmake/musl-cxx-compat.h).
set(_pb_cxx_include /usr/${POWERBANK_CROSS_TRIPLE}/include/c++/12)
set(_pb_musl_cxx "${_pb_musl} -isystem ${_pb_cxx_include} \
-isystem ${_pb_cxx_include}/${POWERBANK_CROSS_TRIPLE} -isystem ${_pb_cxx_include}/backward \
-include ${CMAKE_CURRENT_LIST_DIR}/musl-cxx-compat.h")

# (CMake hands the compile flags to the link line too, so the driver file
# reaches every link through them.)
set(CMAKE_C_FLAGS_INIT "${_pb_musl}")
set(CMAKE_CXX_FLAGS_INIT "${_pb_musl_cxx}")

# Linking through g++ adds -lstdc++, which finds the cross toolchain's glibc
# libstdc++.so, so CMake's link test of the C++ compiler fails. Nothing here is
# linked by g++ (the daemon and the board are linked by the C driver, which
# keeps the C++ runtime out), so that test is skipped.
set(CMAKE_CXX_COMPILER_WORKS TRUE)

# No tests on musl: see above.
set(POWERBANK_BUILD_TESTS OFF CACHE BOOL "Build the tests")

# Libraries come from musl's folders and from the target's trees the caller
# names, never from the host's own /usr; programs run during the build are the
# host's own. Every search path is taken inside a root, so a prefix such as a
# staging directory's usr/ must be a root itself: each CMAKE_PREFIX_PATH entry
# is one, beside any CMAKE_FIND_ROOT_PATH given on the command line (a staging
# directory, whose usr/ is then searched).
list(APPEND CMAKE_FIND_ROOT_PATH ${POWERBANK_MUSL_LIB} ${POWERBANK_MUSL_INCLUDE}
     ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user runs the target's programs; musl's loader sits at its own path in
# the host's root (/lib/ld-musl-mipsel.so.1), so no -L is needed.
find_program(POWERBANK_QEMU qemu-mipsel)
if(POWERBANK_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${POWERBANK_QEMU})
endif()
