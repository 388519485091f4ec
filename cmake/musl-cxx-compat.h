/* Forced into every C++ file of the musl build (cmake/toolchain-mipsel-musl.cmake).
 *
 * The C++ headers come from Debian's mipsel-linux-gnu g++, whose libstdc++ was
 * configured for glibc: its bits/os_defines.h asks __GLIBC_PREREQ(2, N) in #if
 * lines. musl defines no such macro, so the preprocessor fails on it. Answering
 * "no" to every glibc version makes those headers take their plain POSIX
 * paths, which is what the header-only parts used here (array, atomic,
 * optional, string_view, type traits) need; nothing of libstdc++ is linked. */
#ifndef __GLIBC_PREREQ
#define __GLIBC_PREREQ(major, minor) 0
#endif
