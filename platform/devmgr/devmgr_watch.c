/* Watching the status values: inotify on the status directory. Writers
 * replace a key's file by renaming a temporary file (".KEY.XXXXXX") over it,
 * so a change shows as a move into the directory; a key written in place
 * shows as a close after writing. The temporary files are not keys. */
#define _GNU_SOURCE
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "devmgr.h"

#define DIR_EVENTS                                                                              \
    (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF | \
     IN_ONLYDIR)
#define PARENT_EVENTS (IN_CREATE | IN_MOVED_TO | IN_ONLYDIR)

/* DIR's parent into PARENT and its last component into NAME. */
static int split(const char *dir, char *parent, size_t size, char *name, size_t name_size) {
    size_t n = strlen(dir);
    while (n > 1 && dir[n - 1] == '/') {
        n--;
    }
    size_t cut = n;
    while (cut > 0 && dir[cut - 1] != '/') {
        cut--;
    }
    if (n - cut >= name_size || cut >= size || n == 0) {
        errno = ENAMETOOLONG;
        return -1;
    }
    memcpy(name, dir + cut, n - cut);
    name[n - cut] = '\0';
    if (cut == 0) {
        strcpy(parent, ".");
    } else {
        size_t p = cut > 1 ? cut - 1 : 1; /* "/x": the root */
        memcpy(parent, dir, p);
        parent[p] = '\0';
    }
    return 0;
}

/* Watches the status directory or, while it does not exist, its parent. */
static int arm(struct devmgr_watch *w) {
    const char *dir = devmgr_status_dir();
    char parent[PATH_MAX];
    for (int tries = 0; tries < 2; tries++) {
        w->dir_wd = inotify_add_watch(w->fd, dir, DIR_EVENTS);
        if (w->dir_wd >= 0) {
            if (w->parent_wd >= 0) {
                inotify_rm_watch(w->fd, w->parent_wd);
                w->parent_wd = -1;
            }
            return 0;
        }
        if (errno != ENOENT) {
            return -1;
        }
        if (w->parent_wd >= 0) {
            return 0;
        }
        if (split(dir, parent, sizeof parent, w->name, sizeof w->name) != 0 ||
            (w->parent_wd = inotify_add_watch(w->fd, parent, PARENT_EVENTS)) < 0) {
            return -1;
        }
        /* Once more: the directory may have come before the parent's watch. */
    }
    return 0;
}

int devmgr_status_watch_open(struct devmgr_watch *w) {
    w->dir_wd = w->parent_wd = -1;
    w->len = w->pos = 0;
    w->fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (w->fd < 0) {
        return -1;
    }
    if (arm(w) != 0) {
        int e = errno;
        close(w->fd);
        w->fd = -1;
        errno = e;
        return -1;
    }
    return 0;
}

int devmgr_status_watch_next(struct devmgr_watch *w, char *key, size_t size) {
    for (;;) {
        if (w->pos >= w->len) {
            ssize_t n = read(w->fd, w->events, sizeof w->events);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno == EAGAIN) {
                return 0;
            }
            if (n <= 0) {
                return -1;
            }
            w->len = (int)n;
            w->pos = 0;
        }
        const struct inotify_event *e =
            (const struct inotify_event *)((const char *)w->events + w->pos);
        w->pos += (int)(sizeof *e + e->len);
        int all = (e->mask & IN_Q_OVERFLOW) != 0;
        if (e->wd == w->dir_wd && (e->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED))) {
            /* Gone (a moved directory keeps its watch: dropped here). */
            if (e->mask & IN_MOVE_SELF) {
                inotify_rm_watch(w->fd, w->dir_wd);
            }
            w->dir_wd = -1;
            all = 1;
        } else if (e->wd == w->parent_wd && e->len > 0 && strcmp(e->name, w->name) == 0) {
            all = 1;
        } else if (e->wd == w->dir_wd && e->len > 0 && devmgr_key_valid(e->name) &&
                   strlen(e->name) < size) {
            strcpy(key, e->name);
            return 1;
        }
        if (all) {
            if (w->dir_wd < 0 && arm(w) != 0) {
                return -1;
            }
            if (size > 0) {
                key[0] = '\0';
            }
            return 1;
        }
    }
}

void devmgr_status_watch_close(struct devmgr_watch *w) {
    if (w->fd >= 0) {
        close(w->fd);
    }
    w->fd = w->dir_wd = w->parent_wd = -1;
}
