/* Host store library: one file per key, atomic replace on write. */
#define _GNU_SOURCE
#include "devmgr.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#define KEY_MAX 64

static const char *config_dir(void) {
    const char *d = getenv("DEVMGR_CONFIG_DIR");
    return (d && *d) ? d : "/etc/devmgr";
}

static const char *status_dir(void) {
    const char *d = getenv("DEVMGR_STATUS_DIR");
    return (d && *d) ? d : "/var/run/devmgr";
}

const char *devmgr_config_dir(void) {
    return config_dir();
}
const char *devmgr_status_dir(void) {
    return status_dir();
}

int devmgr_key_valid(const char *key) {
    if (key == NULL || key[0] == '\0' || key[0] == '.') {
        return 0;
    }
    size_t n = 0;
    for (const char *p = key; *p; p++, n++) {
        char c = *p;
        int ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '_' || c == '.' || c == '-';
        if (!ok || n >= KEY_MAX) {
            return 0;
        }
    }
    return 1;
}

static int key_path(const char *dir, const char *key, char *path, size_t size) {
    int n = snprintf(path, size, "%s/%s", dir, key);
    return (n < 0 || (size_t)n >= size) ? -1 : 0;
}

/* Reads until N bytes or the end of the file; the count, or -1. */
static ssize_t read_full(int fd, char *p, size_t n) {
    size_t have = 0;
    while (have < n) {
        ssize_t r = read(fd, p + have, n - have);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return -1;
        }
        if (r == 0) {
            break;
        }
        have += (size_t)r;
    }
    return (ssize_t)have;
}

static int get(const char *dir, const char *key, char *buf, size_t size) {
    if (buf == NULL || size == 0) {
        return DEVMGR_ERROR;
    }
    buf[0] = '\0';
    if (!devmgr_key_valid(key)) {
        return DEVMGR_BAD_KEY;
    }
    char path[4096];
    if (key_path(dir, key, path, sizeof path) != 0) {
        errno = ENAMETOOLONG;
        return DEVMGR_ERROR;
    }
    /* Without O_NONBLOCK a FIFO at the key would hold the caller until some
     * writer came; ENXIO is a socket. */
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return (errno == ENOENT || errno == ENXIO) ? DEVMGR_ABSENT : DEVMGR_ERROR;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return DEVMGR_ABSENT;
    }
    /* Up to two bytes past the buffer tell a value that fits, followed only
     * by its newline, from one that does not. */
    char tail[2];
    ssize_t have = read_full(fd, buf, size - 1);
    ssize_t more = have == (ssize_t)size - 1 ? read_full(fd, tail, sizeof tail) : 0;
    int e = errno;
    close(fd);
    if (have < 0 || more < 0) {
        buf[0] = '\0';
        errno = e;
        return DEVMGR_ERROR;
    }
    buf[have] = '\0';
    if (more > 1 || (more == 1 && tail[0] != '\n')) {
        buf[0] = '\0';
        return DEVMGR_TOO_LONG;
    }
    /* One trailing newline is not part of the value. */
    if (more == 0 && have > 0 && buf[have - 1] == '\n') {
        buf[--have] = '\0';
    }
    if (memchr(buf, '\0', (size_t)have) != NULL) {
        buf[0] = '\0';
        return DEVMGR_NOT_TEXT;
    }
    return DEVMGR_OK;
}

static int write_all(int fd, const char *p, size_t n) {
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return -1;
        }
        p += w;
        n -= (size_t)w;
    }
    return 0;
}

/* ".KEY.XXXXXX", the name of a temporary file of set(). */
static int is_temp_name(const char *name) {
    size_t n = strlen(name);
    if (n < 9 || n > KEY_MAX + 8 || name[0] != '.' || name[n - 7] != '.') {
        return 0;
    }
    for (size_t i = n - 6; i < n; i++) {
        if (!isalnum((unsigned char)name[i])) {
            return 0;
        }
    }
    char key[KEY_MAX + 1];
    memcpy(key, name + 1, n - 8);
    key[n - 8] = '\0';
    return devmgr_key_valid(key);
}

/* A writer's temporary file lives for the moment between its creation and
 * its rename; one dated further than this from now was left by a writer that
 * died. Either way: a clock set back must not keep leftovers for good. */
#define STALE_TEMP_S 60

struct dirent64_raw {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

/* Removes stale temporary files from DIR. Read with getdents64 into the
 * stack: the daemon allocates nothing once it runs. */
static void remove_stale_temps(const char *dir) {
    int dfd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0) {
        return;
    }
    _Alignas(8) char buf[2048];
    time_t now = time(NULL);
    long n;
    while ((n = syscall(SYS_getdents64, dfd, buf, sizeof buf)) > 0) {
        for (long off = 0; off < n;) {
            const struct dirent64_raw *d = (const struct dirent64_raw *)(buf + off);
            struct stat st;
            off += d->d_reclen;
            if (is_temp_name(d->d_name) && fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISREG(st.st_mode) &&
                (st.st_mtime < now - STALE_TEMP_S || st.st_mtime > now + STALE_TEMP_S)) {
                unlinkat(dfd, d->d_name, 0);
            }
        }
    }
    close(dfd);
}

/* The sweep of a directory costs a call per block of names and one per
 * temporary file, and the daemon writes status values every few seconds for
 * as long as the device runs. So a write sweeps only when it is the first of
 * this process to that directory, or when the last sweep is a minute old (on
 * the monotonic clock, which no clock setting moves); every other write costs
 * the same few calls however many files the directory holds. Each area
 * remembers the directory it swept by a hash of its path, since the
 * environment may name another one between two writes. Plain 32-bit atomics:
 * two threads writing at once at worst both sweep. */
enum { AREA_CONFIG, AREA_STATUS };
static unsigned swept_dir[2]; /* hash of the path; 0 never swept */
static unsigned sweep_due[2]; /* monotonic second of the next sweep */
#define SWEEP_EVERY_S 60

static unsigned path_hash(const char *dir) {
    unsigned h = 2166136261u; /* FNV-1a */
    for (const char *p = dir; *p; p++) {
        h = (h ^ (unsigned char)*p) * 16777619u;
    }
    return h != 0 ? h : 1;
}

static void sweep_when_due(const char *dir, int area) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    unsigned hash = path_hash(dir);
    unsigned s = (unsigned)now.tv_sec;
    if (__atomic_load_n(&swept_dir[area], __ATOMIC_RELAXED) == hash &&
        (int)(s - __atomic_load_n(&sweep_due[area], __ATOMIC_RELAXED)) < 0) {
        return;
    }
    __atomic_store_n(&sweep_due[area], s + SWEEP_EVERY_S, __ATOMIC_RELAXED);
    __atomic_store_n(&swept_dir[area], hash, __ATOMIC_RELAXED);
    remove_stale_temps(dir);
}

/* TMP becomes DIR/.KEY.XXXXXX, the template of a temporary file. */
static int temp_template(char *tmp, size_t size, const char *dir, const char *key) {
    int n = snprintf(tmp, size, "%s/.%s.XXXXXX", dir, key);
    return (n < 0 || (size_t)n >= size) ? -1 : 0;
}

/* 1 when KEY already holds VALUE (one trailing newline aside): writing it
 * again would tell a watcher of a change that is none. */
static int unchanged(const char *dir, const char *key, const char *value) {
    char current[DEVMGR_VALUE_MAX + 1];
    size_t n = value != NULL ? strlen(value) : 0;
    return value != NULL && n <= DEVMGR_VALUE_MAX && get(dir, key, current, n + 1) == DEVMGR_OK &&
           strcmp(current, value) == 0;
}

static int set(const char *dir, const char *key, const char *value, int area) {
    if (unchanged(dir, key, value)) {
        return DEVMGR_OK;
    }
    if (value == NULL) {
        return DEVMGR_ERROR;
    }
    if (!devmgr_key_valid(key)) {
        return DEVMGR_BAD_KEY;
    }
    if (strlen(value) > DEVMGR_VALUE_MAX) {
        return DEVMGR_TOO_LONG;
    }
    char path[4096];
    char tmp[4096];
    if (key_path(dir, key, path, sizeof path) != 0 ||
        temp_template(tmp, sizeof tmp, dir, key) != 0) {
        errno = ENAMETOOLONG;
        return DEVMGR_ERROR;
    }
    sweep_when_due(dir, area);
    int fd = mkostemp(tmp, O_CLOEXEC);
    /* A fresh device has neither directory yet: the write that misses one
     * makes it, and only that write pays for it. */
    if (fd < 0 && errno == ENOENT) {
        if (mkdir(dir, 0755) != 0 && errno != EEXIST) {
            return DEVMGR_ERROR;
        }
        (void)temp_template(tmp, sizeof tmp, dir, key);
        fd = mkostemp(tmp, O_CLOEXEC);
    }
    if (fd < 0) {
        return DEVMGR_ERROR;
    }
    int ok = write_all(fd, value, strlen(value)) == 0 && fchmod(fd, 0644) == 0;
    if (close(fd) != 0) {
        ok = 0;
    }
    if (!ok || rename(tmp, path) != 0) {
        int e = errno;
        unlink(tmp);
        errno = e;
        return DEVMGR_ERROR;
    }
    return DEVMGR_OK;
}

static int unset(const char *dir, const char *key) {
    if (!devmgr_key_valid(key)) {
        return DEVMGR_BAD_KEY;
    }
    char path[4096];
    if (key_path(dir, key, path, sizeof path) != 0) {
        errno = ENAMETOOLONG;
        return DEVMGR_ERROR;
    }
    if (unlink(path) != 0) {
        return errno == ENOENT ? DEVMGR_ABSENT : DEVMGR_ERROR;
    }
    return DEVMGR_OK;
}

int devmgr_cfg_get(const char *key, char *buf, size_t size) {
    return get(config_dir(), key, buf, size);
}
int devmgr_status_get(const char *key, char *buf, size_t size) {
    return get(status_dir(), key, buf, size);
}
int devmgr_cfg_set(const char *key, const char *value) {
    return set(config_dir(), key, value, AREA_CONFIG);
}
int devmgr_status_set(const char *key, const char *value) {
    return set(status_dir(), key, value, AREA_STATUS);
}
int devmgr_cfg_unset(const char *key) {
    return unset(config_dir(), key);
}
int devmgr_status_unset(const char *key) {
    return unset(status_dir(), key);
}

const char *devmgr_strerror(int result) {
    switch (result) {
        case DEVMGR_OK:
            return "done";
        case DEVMGR_ABSENT:
            return "key absent";
        case DEVMGR_BAD_KEY:
            return "bad key: 1 to 64 characters of A-Z a-z 0-9 _ . -, not starting with '.'";
        case DEVMGR_TOO_LONG:
            return "value does not fit";
        case DEVMGR_NOT_TEXT:
            return "value holds a NUL byte";
        default:
            return "store error";
    }
}
