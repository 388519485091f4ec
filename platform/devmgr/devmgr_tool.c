/* devmgr: command-line access to the host store.
 * Exit status: 0 done, 1 key absent (or nothing stored), 2 bad usage, bad key,
 * a value it cannot print (or a store error). */
#define _DEFAULT_SOURCE
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "devmgr.h"

static const char usage[] =
    "usage: devmgr get KEY | set KEY VALUE | unset KEY | list | status [KEY]\n";

struct area {
    const char *what; /* "configuration" or "status" */
    const char *env;
    const char *fallback;
    int (*get)(const char *, char *, size_t);
};

static const struct area config = {"configuration", "DEVMGR_CONFIG_DIR", "/etc/devmgr",
                                   devmgr_cfg_get};
static const struct area status = {"status", "DEVMGR_STATUS_DIR", "/var/run/devmgr",
                                   devmgr_status_get};

static const char *dir_of(const struct area *a) {
    const char *dir = getenv(a->env);
    return (dir == NULL || *dir == '\0') ? a->fallback : dir;
}

/* What stands at a key that reads as absent although a file is there. */
static const char *not_a_value(const struct area *a, const char *key) {
    char path[4096];
    struct stat st;
    snprintf(path, sizeof path, "%s/%s", dir_of(a), key);
    if (stat(path, &st) != 0 || S_ISREG(st.st_mode)) {
        return NULL;
    }
    return S_ISFIFO(st.st_mode)   ? "a FIFO"
           : S_ISDIR(st.st_mode)  ? "a directory"
           : S_ISSOCK(st.st_mode) ? "a socket"
                                  : "a device";
}

static int fail(const char *what, const char *key, int result) {
    if (result == DEVMGR_ERROR) {
        fprintf(stderr, "devmgr: %s %s: %s: %s\n", what, key, devmgr_strerror(result),
                strerror(errno));
    } else if (result == DEVMGR_TOO_LONG) {
        fprintf(stderr, "devmgr: %s %s: value longer than the store's limit of %d bytes\n", what,
                key, DEVMGR_VALUE_MAX);
    } else {
        fprintf(stderr, "devmgr: %s %s: %s\n", what, key, devmgr_strerror(result));
    }
    return result == DEVMGR_ABSENT ? 1 : 2;
}

/* Reads KEY; on failure says why on stderr and gives the exit status. */
static int read_value(const struct area *a, const char *what, const char *key, char *value) {
    int r = a->get(key, value, DEVMGR_VALUE_MAX + 1);
    const char *kind = r == DEVMGR_ABSENT ? not_a_value(a, key) : NULL;
    if (kind != NULL) {
        fprintf(stderr, "devmgr: %s %s: key absent: %s/%s is %s, not a regular file\n", what, key,
                dir_of(a), key, kind);
        return 1;
    }
    return r == DEVMGR_OK ? 0 : fail(what, key, r);
}

static int print_value(const struct area *a, const char *what, const char *key) {
    static char value[DEVMGR_VALUE_MAX + 1];
    int r = read_value(a, what, key, value);
    if (r == 0) {
        printf("%s\n", value);
    }
    return r;
}

static int compare_names(const void *a, const void *b) {
    return strcmp(*(char *const *)a, *(char *const *)b);
}

/* Every key of an area as KEY=VALUE, sorted by key. A key that cannot be
 * printed is named on stderr and the others still are. */
static int list_dir(const struct area *a) {
    const char *dir = dir_of(a);
    DIR *d = opendir(dir);
    if (d == NULL && errno == ENOENT) {
        fprintf(stderr, "devmgr: no %s stored: %s does not exist (%s names the directory)\n",
                a->what, dir, a->env);
        return 1;
    }
    if (d == NULL) {
        fprintf(stderr, "devmgr: %s: %s\n", dir, strerror(errno));
        return 2;
    }
    char *names[4096];
    size_t n = 0;
    struct dirent *e;
    while ((e = readdir(d)) != NULL && n < sizeof names / sizeof names[0]) {
        if (devmgr_key_valid(e->d_name)) {
            names[n++] = strdup(e->d_name);
        }
    }
    closedir(d);
    qsort(names, n, sizeof names[0], compare_names);
    static char value[DEVMGR_VALUE_MAX + 1];
    int worst = 0;
    for (size_t i = 0; i < n; i++) {
        int r = names[i] != NULL ? read_value(a, "list", names[i], value) : 0;
        if (names[i] != NULL && r == 0) {
            printf("%s=%s\n", names[i], value);
        }
        worst = r == 2 ? 2 : worst;
        free(names[i]);
    }
    return worst;
}

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "get") == 0) {
        return print_value(&config, "get", argv[2]);
    }
    if (argc == 4 && strcmp(argv[1], "set") == 0) {
        int r = devmgr_cfg_set(argv[2], argv[3]);
        return r == DEVMGR_OK ? 0 : fail("set", argv[2], r);
    }
    if (argc == 3 && strcmp(argv[1], "unset") == 0) {
        int r = devmgr_cfg_unset(argv[2]);
        return r == DEVMGR_OK ? 0 : fail("unset", argv[2], r);
    }
    if (argc == 2 && strcmp(argv[1], "list") == 0) {
        return list_dir(&config);
    }
    if (argc == 2 && strcmp(argv[1], "status") == 0) {
        return list_dir(&status);
    }
    if (argc == 3 && strcmp(argv[1], "status") == 0) {
        return print_value(&status, "status", argv[2]);
    }
    fputs(usage, stderr);
    return 2;
}
