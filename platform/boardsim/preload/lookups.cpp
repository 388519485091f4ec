// The path lookups the library takes over: access, the stat family and
// unlink, for the simulated tree and the mapped socket paths.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "context.h"
#include "files.h"
#include "real.h"

using namespace boardsim;

namespace {

void fill_stat(struct stat *st, bool is_dir) {
    memset(st, 0, sizeof *st);
    st->st_mode = is_dir ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    st->st_nlink = 1;
    st->st_size = is_dir ? 0 : 4096;
    st->st_blksize = 4096;
}

#ifdef __USE_LARGEFILE64
void fill_stat64(struct stat64 *st, bool is_dir) {
    memset(st, 0, sizeof *st);
    st->st_mode = is_dir ? (S_IFDIR | 0755) : (S_IFREG | 0644);
    st->st_nlink = 1;
    st->st_size = is_dir ? 0 : 4096;
    st->st_blksize = 4096;
}
#endif

bool board_lookup(const char *path, int *err, bool *is_dir) {
    return path != nullptr && path[0] == '/' && sim_lookup(path, err, is_dir);
}

// Board lookup for the stat family: true when handled (*R is the result).
template <typename Stat, typename Fill>
bool board_stat(const char *path, Stat *st, Fill fill, int *r) {
    int err = 0;
    bool is_dir = false;
    if (!board_lookup(path, &err, &is_dir)) {
        return false;
    }
    if (err != 0) {
        errno = err;
        *r = -1;
    } else {
        fill(st, is_dir);
        *r = 0;
    }
    return true;
}

bool board_access(const char *path, int *r) {
    int err = 0;
    bool is_dir = false;
    if (!board_lookup(path, &err, &is_dir)) {
        return false;
    }
    errno = err;
    *r = err != 0 ? -1 : 0;
    return true;
}

// A stat call: the board's answer for its files, or the real call on the
// mapped path.
template <typename Stat, typename Fill, typename Real>
int stat_any(const char *path, Stat *st, Fill fill, Real real) {
    int r = -1;
    if (board_stat(path, st, fill, &r)) {
        return r;
    }
    char buf[kPathMax];
    return real(mapped(path, buf, sizeof buf));
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int access(const char *path, int mode) {
    int r = -1;
    if (board_access(path, &r)) {
        return r;
    }
    char buf[kPathMax];
    return REAL(access)(mapped(path, buf, sizeof buf), mode);
}

__attribute__((visibility("default"))) int faccessat(int dirfd, const char *path, int mode,
                                                     int flags) {
    int r = -1;
    if (board_access(path, &r)) {
        return r;
    }
    char buf[kPathMax];
    return REAL(faccessat)(dirfd, mapped(path, buf, sizeof buf), mode, flags);
}

__attribute__((visibility("default"))) int stat(const char *path, struct stat *st) {
    return stat_any(path, st, fill_stat, [&](const char *p) { return REAL(stat)(p, st); });
}

__attribute__((visibility("default"))) int lstat(const char *path, struct stat *st) {
    return stat_any(path, st, fill_stat, [&](const char *p) { return REAL(lstat)(p, st); });
}

__attribute__((visibility("default"))) int fstatat(int dirfd, const char *path, struct stat *st,
                                                   int flags) {
    return stat_any(path, st, fill_stat,
                    [&](const char *p) { return REAL(fstatat)(dirfd, p, st, flags); });
}

#ifdef __USE_LARGEFILE64
__attribute__((visibility("default"))) int stat64(const char *path, struct stat64 *st) {
    return stat_any(path, st, fill_stat64, [&](const char *p) { return REAL(stat64)(p, st); });
}

__attribute__((visibility("default"))) int lstat64(const char *path, struct stat64 *st) {
    return stat_any(path, st, fill_stat64, [&](const char *p) { return REAL(lstat64)(p, st); });
}

__attribute__((visibility("default"))) int fstatat64(int dirfd, const char *path, struct stat64 *st,
                                                     int flags) {
    return stat_any(path, st, fill_stat64,
                    [&](const char *p) { return REAL(fstatat64)(dirfd, p, st, flags); });
}
#endif

// A C library without statx (musl before 1.2.5) has no caller to take over.
#ifdef STATX_TYPE
__attribute__((visibility("default"))) int statx(int dirfd, const char *path, int flags,
                                                 unsigned int mask, struct statx *st) {
    int err = 0;
    bool is_dir = false;
    if (board_lookup(path, &err, &is_dir)) {
        if (err != 0) {
            errno = err;
            return -1;
        }
        memset(st, 0, sizeof *st);
        st->stx_mask = STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_SIZE;
        st->stx_mode = static_cast<__u16>(is_dir ? (S_IFDIR | 0755) : (S_IFREG | 0644));
        st->stx_nlink = 1;
        st->stx_size = is_dir ? 0 : 4096;
        st->stx_blksize = 4096;
        return 0;
    }
    char buf[kPathMax];
    return REAL(statx)(dirfd, mapped(path, buf, sizeof buf), flags, mask, st);
}
#endif

__attribute__((visibility("default"))) int unlink(const char *path) {
    char buf[kPathMax];
    return REAL(unlink)(mapped(path, buf, sizeof buf));
}

__attribute__((visibility("default"))) int unlinkat(int dirfd, const char *path, int flags) {
    char buf[kPathMax];
    return REAL(unlinkat)(dirfd, mapped(path, buf, sizeof buf), flags);
}

}  // extern "C"
