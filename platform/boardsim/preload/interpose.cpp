// The libc entry points the library takes over. Each one asks the board model
// first and otherwise hands the call, unchanged, to the next definition.
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "context.h"
#include "files.h"
#include "real.h"
#include "sockets.h"

using namespace boardsim;

namespace {

// The mode argument is only there with O_CREAT or O_TMPFILE.
bool wants_mode(int flags) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE;
}

// Absolute paths of the board's tree are opened in the model; relative names
// (whatever DIRFD is) go to libc.
bool board_open(int dirfd, const char *path, int flags, int *fd) {
    (void)dirfd;
    if (path == nullptr || path[0] != '/') {
        return false;
    }
    return sim_open(path, flags, fd);
}

// The stdio stream of a simulated file: its I/O goes through the model, not
// through libc's internal (non-interposable) read and write.
ssize_t cookie_read(void *cookie, char *buf, size_t size) {
    ssize_t r = -1;
    if (!sim_read(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, size, nullptr, &r)) {
        errno = EBADF;
        return -1;
    }
    return r;
}
ssize_t cookie_write(void *cookie, const char *buf, size_t size) {
    ssize_t r = -1;
    if (!sim_write(static_cast<int>(reinterpret_cast<intptr_t>(cookie)), buf, size, nullptr, &r)) {
        errno = EBADF;
        return -1;
    }
    return r;
}
int cookie_seek(void *cookie, off64_t *offset, int whence) {
    off_t r = -1;
    if (!sim_lseek(static_cast<int>(reinterpret_cast<intptr_t>(cookie)),
                   static_cast<off_t>(*offset), whence, &r)) {
        errno = EBADF;
        return -1;
    }
    if (r < 0) {
        return -1;
    }
    *offset = r;
    return 0;
}
int cookie_close(void *cookie) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(cookie));
    sim_forget(fd);
    return REAL(close)(fd);
}

// fopen's mode string as open flags; -1 for a bad mode.
int mode_flags(const char *mode) {
    int flags = 0;
    switch (mode ? mode[0] : 0) {
        case 'r':
            flags = O_RDONLY;
            break;
        case 'w':
            flags = O_WRONLY | O_CREAT | O_TRUNC;
            break;
        case 'a':
            flags = O_WRONLY | O_CREAT | O_APPEND;
            break;
        default:
            return -1;
    }
    for (const char *p = mode + 1; *p; ++p) {
        if (*p == '+') {
            flags = (flags & ~O_ACCMODE) | O_RDWR;
        } else if (*p == 'e') {
            flags |= O_CLOEXEC;
        } else if (*p == 'x') {
            flags |= O_EXCL;
        }
    }
    return flags;
}

bool board_fopen(const char *path, const char *mode, FILE **result) {
    if (path == nullptr || path[0] != '/') {
        return false;
    }
    int flags = mode_flags(mode);
    int fd = -1;
    if (flags < 0 || !sim_open(path, flags, &fd)) {
        return false;
    }
    *result = nullptr;
    if (fd < 0) {
        return true;
    }
    cookie_io_functions_t io = {cookie_read, cookie_write, cookie_seek, cookie_close};
    *result = fopencookie(reinterpret_cast<void *>(static_cast<intptr_t>(fd)), mode, io);
    if (*result == nullptr) {
        int e = errno;
        sim_forget(fd);
        REAL(close)(fd);
        errno = e;
    }
    return true;
}

// The open calls: a board file, or the real call on the mapped path.
template <typename Real>
int open_any(int dirfd, const char *path, int flags, Real real) {
    int fd = -1;
    if (board_open(dirfd, path, flags, &fd)) {
        return fd;
    }
    char buf[kPathMax];
    return real(mapped(path, buf, sizeof buf));
}

// The request's type is the C library's own: unsigned long in glibc, int in
// musl.
template <typename Request>
Request request_type(int (*)(int, Request, ...));
using IoctlRequest = decltype(request_type(&::ioctl));

}  // namespace

// The 64-bit spellings (open64, lseek64, ...) are functions of their own in
// glibc; musl makes them macros for the plain calls (its off_t is 64 bits
// everywhere), so there the plain definitions take over both.

// The mode argument of an open call, there only when the flags create a file.
#define OPEN_MODE(flags)           \
    mode_t mode = 0;               \
    if (wants_mode(flags)) {       \
        va_list ap;                \
        va_start(ap, flags);       \
        mode = va_arg(ap, mode_t); \
        va_end(ap);                \
    }

extern "C" {

__attribute__((visibility("default"))) int open(const char *path, int flags, ...) {
    OPEN_MODE(flags);
    return open_any(AT_FDCWD, path, flags,
                    [&](const char *p) { return REAL(open)(p, flags, mode); });
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int open64(const char *path, int flags, ...) {
    OPEN_MODE(flags);
    return open_any(AT_FDCWD, path, flags,
                    [&](const char *p) { return REAL(open64)(p, flags, mode); });
}
#endif

__attribute__((visibility("default"))) int openat(int dirfd, const char *path, int flags, ...) {
    OPEN_MODE(flags);
    return open_any(dirfd, path, flags,
                    [&](const char *p) { return REAL(openat)(dirfd, p, flags, mode); });
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int openat64(int dirfd, const char *path, int flags, ...) {
    OPEN_MODE(flags);
    return open_any(dirfd, path, flags,
                    [&](const char *p) { return REAL(openat64)(dirfd, p, flags, mode); });
}
#endif

// The fortified forms (_FORTIFY_SOURCE) take no mode.
__attribute__((visibility("default"))) int __open_2(const char *path, int flags) {
    return open(path, flags);
}
#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int __open64_2(const char *path, int flags) {
    return open64(path, flags);
}
#endif
__attribute__((visibility("default"))) int __openat_2(int dirfd, const char *path, int flags) {
    return openat(dirfd, path, flags);
}
#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int __openat64_2(int dirfd, const char *path, int flags) {
    return openat64(dirfd, path, flags);
}
#endif

__attribute__((visibility("default"))) int creat(const char *path, mode_t mode) {
    return open(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}
#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int creat64(const char *path, mode_t mode) {
    return open64(path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}
#endif

__attribute__((visibility("default"))) FILE *fopen(const char *path, const char *mode) {
    FILE *f = nullptr;
    if (board_fopen(path, mode, &f)) {
        return f;
    }
    char buf[kPathMax];
    return REAL(fopen)(mapped(path, buf, sizeof buf), mode);
}
#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) FILE *fopen64(const char *path, const char *mode) {
    FILE *f = nullptr;
    if (board_fopen(path, mode, &f)) {
        return f;
    }
    char buf[kPathMax];
    return REAL(fopen64)(mapped(path, buf, sizeof buf), mode);
}
#endif

__attribute__((visibility("default"))) ssize_t read(int fd, void *buf, size_t n) {
    ssize_t r = -1;
    if (sim_read(fd, buf, n, nullptr, &r)) {
        return r;
    }
    return REAL(read)(fd, buf, n);
}

__attribute__((visibility("default"))) ssize_t pread(int fd, void *buf, size_t n, off_t at) {
    ssize_t r = -1;
    if (sim_read(fd, buf, n, &at, &r)) {
        return r;
    }
    return REAL(pread)(fd, buf, n, at);
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) ssize_t pread64(int fd, void *buf, size_t n, off64_t at) {
    ssize_t r = -1;
    off_t pos = static_cast<off_t>(at);
    if (sim_read(fd, buf, n, &pos, &r)) {
        return r;
    }
    return REAL(pread64)(fd, buf, n, at);
}
#endif

__attribute__((visibility("default"))) ssize_t write(int fd, const void *buf, size_t n) {
    ssize_t r = -1;
    if (sim_write(fd, buf, n, nullptr, &r)) {
        return r;
    }
    if (socket_write(fd, buf, n, &r)) {
        return r;
    }
    return REAL(write)(fd, buf, n);
}

__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void *buf, size_t n, off_t at) {
    ssize_t r = -1;
    if (sim_write(fd, buf, n, &at, &r)) {
        return r;
    }
    return REAL(pwrite)(fd, buf, n, at);
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) ssize_t pwrite64(int fd, const void *buf, size_t n,
                                                        off64_t at) {
    ssize_t r = -1;
    off_t pos = static_cast<off_t>(at);
    if (sim_write(fd, buf, n, &pos, &r)) {
        return r;
    }
    return REAL(pwrite64)(fd, buf, n, at);
}
#endif

__attribute__((visibility("default"))) off_t lseek(int fd, off_t offset, int whence) {
    off_t r = -1;
    if (sim_lseek(fd, offset, whence, &r)) {
        return r;
    }
    return REAL(lseek)(fd, offset, whence);
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) off64_t lseek64(int fd, off64_t offset, int whence) {
    off_t r = -1;
    if (sim_lseek(fd, static_cast<off_t>(offset), whence, &r)) {
        return r;
    }
    return REAL(lseek64)(fd, offset, whence);
}
#endif

__attribute__((visibility("default"))) int close(int fd) {
    sim_forget(fd);
    socket_forget(fd);
    return REAL(close)(fd);
}

__attribute__((visibility("default"))) int dup(int oldfd) {
    int fd = REAL(dup)(oldfd);
    if (fd >= 0) {
        socket_forget(fd);
        sim_dup(oldfd, fd);
    }
    return fd;
}

__attribute__((visibility("default"))) int dup2(int oldfd, int newfd) {
    int fd = REAL(dup2)(oldfd, newfd);
    if (fd >= 0 && oldfd != newfd) {
        sim_forget(newfd);
        socket_forget(newfd);
        sim_dup(oldfd, newfd);
    }
    return fd;
}

__attribute__((visibility("default"))) int dup3(int oldfd, int newfd, int flags) {
    int fd = REAL(dup3)(oldfd, newfd, flags);
    if (fd >= 0) {
        sim_forget(newfd);
        socket_forget(newfd);
        sim_dup(oldfd, newfd);
    }
    return fd;
}

__attribute__((visibility("default"))) int fcntl(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int r = REAL(fcntl)(fd, cmd, arg);
    if (r >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) {
        socket_forget(r);
        sim_dup(fd, r);
    }
    return r;
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int fcntl64(int fd, int cmd, ...) {
    va_list ap;
    va_start(ap, cmd);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int r = REAL(fcntl64)(fd, cmd, arg);
    if (r >= 0 && (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC)) {
        socket_forget(r);
        sim_dup(fd, r);
    }
    return r;
}
#endif

__attribute__((visibility("default"))) int ioctl(int fd, IoctlRequest request, ...) {
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    int r = -1;
    if (sim_ioctl(fd, request, arg, &r)) {
        return r;
    }
    return REAL(ioctl)(fd, request, arg);
}

}  // extern "C"
