#include "board_files.h"

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

namespace boardsim {

int sys_open(const char *path, int flags, mode_t mode) {
    return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags | O_CLOEXEC, mode));
}
ssize_t sys_read(int fd, void *buf, size_t n) {
    return syscall(SYS_read, fd, buf, n);
}
ssize_t sys_write(int fd, const void *buf, size_t n) {
    return syscall(SYS_write, fd, buf, n);
}
int sys_close(int fd) {
    return static_cast<int>(syscall(SYS_close, fd));
}
int sys_rename(const char *from, const char *to) {
    return static_cast<int>(syscall(SYS_renameat, AT_FDCWD, from, AT_FDCWD, to));
}
int sys_mkdir(const char *path, mode_t mode) {
    return static_cast<int>(syscall(SYS_mkdirat, AT_FDCWD, path, mode));
}
int sys_unlink(const char *path) {
    return static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, 0));
}
int sys_rmdir(const char *path) {
    return static_cast<int>(syscall(SYS_unlinkat, AT_FDCWD, path, AT_REMOVEDIR));
}
bool sys_exists(const char *path) {
    return syscall(SYS_faccessat, AT_FDCWD, path, F_OK) == 0;
}

bool path_join(char *out, size_t size, const char *dir, const char *rel) {
    int n = snprintf(out, size, "%s/%s", dir, rel);
    return n > 0 && static_cast<size_t>(n) < size;
}

ssize_t read_file(const char *path, char *buf, size_t size) {
    if (size == 0) {
        errno = EINVAL;
        return -1;
    }
    buf[0] = '\0';
    int fd = sys_open(path, O_RDONLY);
    if (fd < 0) {
        return -1;
    }
    size_t got = 0;
    while (got + 1 < size) {
        ssize_t n = sys_read(fd, buf + got, size - 1 - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    buf[got] = '\0';
    sys_close(fd);
    return static_cast<ssize_t>(got);
}

long read_number(const char *path, long fallback) {
    char buf[64];
    if (read_file(path, buf, sizeof buf) <= 0) {
        return fallback;
    }
    char *end = nullptr;
    long v = strtol(buf, &end, 0);
    return end == buf ? fallback : v;
}

int mkdirs(const char *path) {
    char tmp[kPathMax];
    size_t len = strlen(path);
    if (len == 0 || len >= sizeof tmp) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(tmp, path, len + 1);
    for (size_t i = 1; i <= len; ++i) {
        if (tmp[i] == '/' || tmp[i] == '\0') {
            char saved = tmp[i];
            tmp[i] = '\0';
            if (sys_mkdir(tmp, 0755) != 0 && errno != EEXIST) {
                return -1;
            }
            tmp[i] = saved;
        }
    }
    return 0;
}

int write_file_atomic(const char *path, const void *data, size_t len) {
    static unsigned counter;  // only makes names unique; races are harmless
    char tmp[kPathMax];
    const char *slash = strrchr(path, '/');
    if (slash == nullptr) {
        errno = EINVAL;
        return -1;
    }
    int dirlen = static_cast<int>(slash - path);
    int n = snprintf(tmp, sizeof tmp, "%.*s/.tmp.%ld.%ld.%u", dirlen, path,
                     static_cast<long>(getpid()), static_cast<long>(syscall(SYS_gettid)),
                     __atomic_add_fetch(&counter, 1, __ATOMIC_RELAXED));
    if (n < 0 || static_cast<size_t>(n) >= sizeof tmp) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = sys_open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 && errno == ENOENT) {
        char dir[kPathMax];
        snprintf(dir, sizeof dir, "%.*s", dirlen, path);
        if (mkdirs(dir) == 0) {
            fd = sys_open(tmp, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        }
    }
    if (fd < 0) {
        return -1;
    }
    const char *p = static_cast<const char *>(data);
    size_t done = 0;
    while (done < len) {
        ssize_t w = sys_write(fd, p + done, len - done);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            int e = errno;
            sys_close(fd);
            sys_unlink(tmp);
            errno = e;
            return -1;
        }
        done += static_cast<size_t>(w);
    }
    sys_close(fd);
    if (sys_rename(tmp, path) != 0) {
        int e = errno;
        sys_unlink(tmp);
        errno = e;
        return -1;
    }
    return 0;
}

int write_number_atomic(const char *path, long value) {
    char buf[32];
    int n = snprintf(buf, sizeof buf, "%ld\n", value);
    return write_file_atomic(path, buf, static_cast<size_t>(n));
}

int64_t mono_ns() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

double sane_speed(double speed) {
    if (!isfinite(speed) || speed <= 0.0) {
        return 1.0;
    }
    return speed;
}

bool read_clock(const char *dir, Clock *clock) {
    char path[kPathMax];
    char buf[128];
    if (!path_join(path, sizeof path, dir, "clock") || read_file(path, buf, sizeof buf) <= 0) {
        return false;
    }
    long long epoch = 0;
    double speed = 1.0;
    if (sscanf(buf, "%lld %lf", &epoch, &speed) != 2) {
        return false;
    }
    clock->epoch_ns = epoch;
    clock->speed = sane_speed(speed);
    return true;
}

int write_clock(const char *dir, const Clock &clock) {
    char path[kPathMax];
    char buf[128];
    if (!path_join(path, sizeof path, dir, "clock")) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int n = snprintf(buf, sizeof buf, "%lld %.17g\n", static_cast<long long>(clock.epoch_ns),
                     clock.speed);
    return write_file_atomic(path, buf, static_cast<size_t>(n));
}

int64_t virtual_ms(const Clock &clock) {
    double elapsed = static_cast<double>(mono_ns() - clock.epoch_ns);
    return static_cast<int64_t>(elapsed * clock.speed / 1e6);
}

size_t escape_bytes(char *out, size_t size, const void *data, size_t len) {
    static const char kHex[] = "0123456789abcdef";
    // Bytes written as a backslash and a letter.
    static const char kEscaped[] = {'"', '\\', '\n', '\r', '\t', '\0'};
    static const char kLetters[] = {'"', '\\', 'n', 'r', 't', '0'};
    const unsigned char *p = static_cast<const unsigned char *>(data);
    size_t o = 0;
    if (size == 0) {
        return 0;
    }
    for (size_t i = 0; i < len; ++i) {
        char esc[5];
        size_t n = 0;
        unsigned char c = p[i];
        const auto *hit = static_cast<const char *>(memchr(kEscaped, c, sizeof kEscaped));
        if (hit != nullptr) {
            esc[n++] = '\\';
            esc[n++] = kLetters[hit - kEscaped];
        } else if (c >= 0x20 && c < 0x7f) {
            esc[n++] = static_cast<char>(c);
        } else {
            esc[n++] = '\\';
            esc[n++] = 'x';
            esc[n++] = kHex[c >> 4];
            esc[n++] = kHex[c & 15];
        }
        // Keep room for "..." and the NUL.
        if (o + n + 4 > size) {
            if (o + 4 <= size) {
                memcpy(out + o, "...", 3);
                o += 3;
            }
            break;
        }
        memcpy(out + o, esc, n);
        o += n;
    }
    out[o] = '\0';
    return o;
}

void journal_line(const char *dir, const Clock &clock, const char *text, bool create) {
    char path[kPathMax];
    char line[8192];
    if (!path_join(path, sizeof path, dir, "journal")) {
        return;
    }
    int saved = errno;  // bookkeeping never disturbs the caller's errno
    int fd = sys_open(path, O_WRONLY | O_APPEND | (create ? O_CREAT : 0), 0644);
    if (fd < 0) {
        errno = saved;
        return;
    }
    // The stamp is taken under the journal's lock, so the lines of every
    // process and thread on the board come in the order of their stamps: a
    // reader that has a line stamped T has every line stamped before T.
    while (syscall(SYS_flock, fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    int n =
        snprintf(line, sizeof line, "%lld %s\n", static_cast<long long>(virtual_ms(clock)), text);
    if (n > 0) {
        size_t len =
            static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
        line[len - 1] = '\n';
        ssize_t w = sys_write(fd, line, len);
        (void)w;
    }
    sys_close(fd);  // and the lock with it
    errno = saved;
}

void journal_data(const char *dir, const Clock &clock, const char *kind, const char *name,
                  const char *op, const void *data, size_t len, int err, const char *tags) {
    char esc[6144];
    char text[7680];
    char ebuf[24];
    escape_bytes(esc, sizeof esc, data, len);
    int n = snprintf(text, sizeof text, "%s %s %s %zu \"%s\"", kind, name, op, len, esc);
    if (tags != nullptr && tags[0] != '\0' && n > 0 && static_cast<size_t>(n) < sizeof text) {
        n += snprintf(text + n, sizeof text - static_cast<size_t>(n), " %s", tags);
    }
    if (err != 0 && n > 0 && static_cast<size_t>(n) < sizeof text) {
        snprintf(text + n, sizeof text - static_cast<size_t>(n), " err=%s",
                 errno_name(err, ebuf, sizeof ebuf));
    }
    journal_line(dir, clock, text);
}

const char *errno_name(int err, char *buf, size_t size) {
    switch (err) {
        case EPERM:
            return "EPERM";
        case ENOENT:
            return "ENOENT";
        case EIO:
            return "EIO";
        case ENXIO:
            return "ENXIO";
        case EBADF:
            return "EBADF";
        case EACCES:
            return "EACCES";
        case EFAULT:
            return "EFAULT";
        case EBUSY:
            return "EBUSY";
        case EEXIST:
            return "EEXIST";
        case EISDIR:
            return "EISDIR";
        case EINVAL:
            return "EINVAL";
        case ENOTTY:
            return "ENOTTY";
        case ENOSPC:
            return "ENOSPC";
        case EAGAIN:
            return "EAGAIN";
        case ENOTCONN:
            return "ENOTCONN";
        case ECONNREFUSED:
            return "ECONNREFUSED";
        case EREMOTEIO:
            return "EREMOTEIO";
        case ENAMETOOLONG:
            return "ENAMETOOLONG";
        case EMSGSIZE:
            return "EMSGSIZE";
        default:
            snprintf(buf, size, "E%d", err);
            return buf;
    }
}

}  // namespace boardsim
