/* devmgr: command-line access to the host store.
#define _DEFAULT_SOURCE
 * Exit status: 0 done, 1 key absent, 2 bad usage or bad key (or a store error). */
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "devmgr.h"

static const char usage[] =
    "usage: devmgr get KEY | set KEY VALUE | unset KEY | list | status [KEY]\n";

static int fail(const char *what, const char *key, int result) {
    if (result == DEVMGR_ERROR) {
        fprintf(stderr, "devmgr: %s %s: %s: %s\n", what, key, devmgr_strerror(result),
                strerror(errno));
    } else {
        fprintf(stderr, "devmgr: %s %s: %s\n", what, key, devmgr_strerror(result));
    }
    return result == DEVMGR_ABSENT ? 1 : 2;
}

static int print_value(const char *what, const char *key,
                       int (*get)(const char *, char *, size_t)) {
    static char value[65536];
    int r = get(key, value, sizeof value);
    if (r != DEVMGR_OK) {
        return fail(what, key, r);
    }
    printf("%s\n", value);
    return 0;
}

static int compare_names(const void *a, const void *b) {
    return strcmp(*(char *const *)a, *(char *const *)b);
}

/* Every key of a directory as KEY=VALUE, sorted by key. */
static int list_dir(const char *env, const char *fallback,
                    int (*get)(const char *, char *, size_t)) {
    const char *dir = getenv(env);
    if (dir == NULL || *dir == '\0') {
        dir = fallback;
    }
    DIR *d = opendir(dir);
    if (d == NULL) {
        return errno == ENOENT ? 0 : (fprintf(stderr, "devmgr: %s: %s\n", dir, strerror(errno)), 2);
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
    static char value[65536];
    for (size_t i = 0; i < n; i++) {
        if (names[i] != NULL && get(names[i], value, sizeof value) == DEVMGR_OK) {
            printf("%s=%s\n", names[i], value);
        }
        free(names[i]);
    }
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && strcmp(argv[1], "get") == 0) {
        return print_value("get", argv[2], devmgr_cfg_get);
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
        return list_dir("DEVMGR_CONFIG_DIR", "/etc/devmgr", devmgr_cfg_get);
    }
    if (argc == 2 && strcmp(argv[1], "status") == 0) {
        return list_dir("DEVMGR_STATUS_DIR", "/var/run/devmgr", devmgr_status_get);
    }
    if (argc == 3 && strcmp(argv[1], "status") == 0) {
        return print_value("status", argv[2], devmgr_status_get);
    }
    fputs(usage, stderr);
    return 2;
}
