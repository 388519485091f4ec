/* Host store library: one file per key, atomic replace on write. */
#define _GNU_SOURCE
#include "devmgr.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
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
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return errno == ENOENT ? DEVMGR_ABSENT : DEVMGR_ERROR;
    }
    /* Read one byte past the buffer, so a newline that ends the value just
     * beyond the cut is still recognised as the value's end. */
    size_t have = 0;
    char extra = 0;
    int got_extra = 0;
    for (;;) {
        char *dst = have < size - 1 ? buf + have : &extra;
        size_t want = have < size - 1 ? size - 1 - have : 1;
        ssize_t r = read(fd, dst, want);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            int e = errno;
            close(fd);
            buf[0] = '\0';
            errno = e;
            return DEVMGR_ERROR;
        }
        if (r == 0) {
            break;
        }
        if (dst == &extra) {
            got_extra = 1;
            break;
        }
        have += (size_t)r;
    }
    close(fd);
    buf[have] = '\0';
    /* One trailing newline is not part of the value. */
    if (!got_extra && have > 0 && buf[have - 1] == '\n') {
        buf[have - 1] = '\0';
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

static int set(const char *dir, const char *key, const char *value, int create_dir) {
    if (value == NULL) {
        return DEVMGR_ERROR;
    }
    if (!devmgr_key_valid(key)) {
        return DEVMGR_BAD_KEY;
    }
    /* A fresh device has neither directory yet. */
    if (create_dir && mkdir(dir, 0755) != 0 && errno != EEXIST) {
        return DEVMGR_ERROR;
    }
    char path[4096];
    char tmp[4096];
    if (key_path(dir, key, path, sizeof path) != 0 ||
        snprintf(tmp, sizeof tmp, "%s/.%s.XXXXXX", dir, key) >= (int)sizeof tmp) {
        errno = ENAMETOOLONG;
        return DEVMGR_ERROR;
    }
    int fd = mkostemp(tmp, O_CLOEXEC);
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
    return set(config_dir(), key, value, 1);
}
int devmgr_status_set(const char *key, const char *value) {
    return set(status_dir(), key, value, 1);
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
        default:
            return "store error";
    }
}
