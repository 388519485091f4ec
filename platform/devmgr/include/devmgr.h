/* Host store library: a file-backed configuration/status store.
 *
 * Configuration lives in $DEVMGR_CONFIG_DIR (default /etc/devmgr), status in
 * $DEVMGR_STATUS_DIR (default /var/run/devmgr), one regular file per key whose
 * content is the value; one trailing newline is not part of the value. Any
 * other kind of file at a key (a FIFO, a directory, a socket) is an absent
 * key: it is never read or waited on. Writes go to a temporary file
 * (".KEY.XXXXXX") in the same directory and are renamed over the key's file,
 * so a reader never sees half a value. A temporary file left by a writer that
 * died midway is removed once it is more than a minute old (younger ones may
 * belong to a writer still at work) by a sweep of the directory, which the
 * first write of a process to it makes, and then a write at most once a
 * minute: any other write costs the same few system calls however many files
 * the directory holds. Keys
 * are 1 to 64 characters of A-Z a-z 0-9 _ . - and do not start with '.'.
 */
#ifndef DEVMGR_H
#define DEVMGR_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define DEVMGR_OK 0
#define DEVMGR_ABSENT 1   /* the key has no value (no file, or not a regular file) */
#define DEVMGR_BAD_KEY 2  /* the key breaks the key rules; nothing was read or written */
#define DEVMGR_ERROR 3    /* an argument was null or the file system failed (errno says why) */
#define DEVMGR_TOO_LONG 4 /* the value does not fit the buffer, or a new one the store */
#define DEVMGR_NOT_TEXT 5 /* the stored value holds a NUL byte */

/* The store's limit: the longest value, in bytes, it takes (set) and that its
 * tool prints (get). */
#define DEVMGR_VALUE_MAX 4096

/* 1 when KEY follows the key rules, else 0. */
int devmgr_key_valid(const char *key);

/* Read KEY's value into BUF of SIZE bytes, NUL-terminated. A value is never
 * cut: one longer than SIZE - 1 bytes gives DEVMGR_TOO_LONG (so a caller with
 * a small buffer sees the key as absent rather than as another value), one
 * that holds a NUL byte DEVMGR_NOT_TEXT. On any result but DEVMGR_OK the
 * buffer holds the empty string (when SIZE > 0). */
int devmgr_cfg_get(const char *key, char *buf, size_t size);
int devmgr_status_get(const char *key, char *buf, size_t size);

/* Store VALUE under KEY (the status directory is created when missing); a
 * value longer than DEVMGR_VALUE_MAX gives DEVMGR_TOO_LONG, nothing written.
 * A value equal to the stored one (one trailing newline aside) gives
 * DEVMGR_OK and leaves the file as it is, modification time included: a
 * watch on the directory hears only of changes. */
int devmgr_cfg_set(const char *key, const char *value);
int devmgr_status_set(const char *key, const char *value);

/* Remove KEY; removing an absent key gives DEVMGR_ABSENT. */
int devmgr_cfg_unset(const char *key);
int devmgr_status_unset(const char *key);

/* Text for a result code. */
const char *devmgr_strerror(int result);

/* The directories in use: $DEVMGR_CONFIG_DIR or /etc/devmgr, and
 * $DEVMGR_STATUS_DIR or /var/run/devmgr. */
const char *devmgr_config_dir(void);
const char *devmgr_status_dir(void);

/* A watch on the status values (devmgr_watch.c): inotify on the status
 * directory, or, while it does not exist yet, on its parent until it comes.
 * Poll FD for reading; nothing wakes it while no value changes. */
struct devmgr_watch {
    int fd;         /* non-blocking, close-on-exec */
    int dir_wd;     /* the status directory's watch, -1 while it does not exist */
    int parent_wd;  /* its parent's, -1 unless waiting for the directory */
    int len, pos;   /* unread bytes of EVENTS */
    char name[256]; /* the status directory's last path component */
    uint32_t events[256];
};

/* Starts watching: 0, or -1 with errno (ENOENT: not even the status
 * directory's parent exists; ENOTDIR: it is not a directory). */
int devmgr_status_watch_open(struct devmgr_watch *w);
/* The next change: 1 with the key whose value was set or removed in KEY
 * (SIZE bytes), or with KEY "" when any may have changed (the directory came
 * or went, or the kernel's queue overflowed: read them all again); 0 when
 * nothing is waiting; -1 with errno when the watch failed. */
int devmgr_status_watch_next(struct devmgr_watch *w, char *key, size_t size);
void devmgr_status_watch_close(struct devmgr_watch *w);

#ifdef __cplusplus
}
#endif

#endif /* DEVMGR_H */
