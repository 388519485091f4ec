/* devmgr: command-line access to the host store.
 * Exit status: 0 done, 1 key absent (or nothing stored), 2 bad usage, bad key,
 * a value it cannot print (or a store error). */
#define _DEFAULT_SOURCE
#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>

#include "devmgr.h"

static const char usage[] =
    "usage: devmgr get KEY | set KEY VALUE | unset KEY | list | status [KEY]"
    " (devmgr --help tells more)\n";

static const char help[] =
    "usage: devmgr VERB [ARGUMENTS]\n"
    "The device's configuration/status store: one file per key, its content the value.\n"
    "\n"
    "  get KEY          print KEY's configuration value\n"
    "  set KEY VALUE    store VALUE as KEY's configuration value\n"
    "  unset KEY        remove KEY from the configuration\n"
    "  list             every configuration key as KEY=VALUE, sorted by key\n"
    "  status [KEY]     print KEY's status value; without KEY every status key as KEY=VALUE\n"
    "\n"
    "Configuration is kept in $DEVMGR_CONFIG_DIR (default /etc/devmgr), status in\n"
    "$DEVMGR_STATUS_DIR (default /var/run/devmgr). Keys are 1 to 64 characters of\n"
    "A-Z a-z 0-9 _ . - and do not start with '.'; values are at most 4096 bytes.\n"
    "\n"
    "Exit status: 0 done; 1 key absent (for list and status: nothing stored); 2 bad\n"
    "usage, a bad key, a value that cannot be printed whole, or a store error.\n";

struct area {
    const char *what; /* "configuration" or "status" */
    const char *env;
    const char *fallback;
    int (*get)(const char *, char *, size_t);
    const char *read_verb; /* the verb that reads one of its keys */
};

static const struct area config = {"configuration", "DEVMGR_CONFIG_DIR", "/etc/devmgr",
                                   devmgr_cfg_get, "get"};
static const struct area status = {"status", "DEVMGR_STATUS_DIR", "/var/run/devmgr",
                                   devmgr_status_get, "status"};

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

/* What is wrong with the directory of an area, or NULL when it is one. */
static const char *dir_trouble(const struct area *a) {
    struct stat st;
    if (stat(dir_of(a), &st) != 0) {
        return errno == ENOENT ? "does not exist" : strerror(errno);
    }
    return S_ISDIR(st.st_mode) ? NULL : "is not a directory";
}

static int fail_in(const struct area *a, const char *what, const char *key, int result) {
    int err = errno;
    const char *trouble = result == DEVMGR_ABSENT || result == DEVMGR_ERROR ? dir_trouble(a) : NULL;
    errno = err;
    if (trouble != NULL) {
        fprintf(stderr, "devmgr: %s %s: %s: %s %s (%s names the directory)\n", what, key,
                devmgr_strerror(result), dir_of(a), trouble, a->env);
    } else if (result == DEVMGR_ERROR) {
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
    return r == DEVMGR_OK ? 0 : fail_in(a, what, key, r);
}

/* One key's value, on its own line. A key absent here but present in the
 * other area (a status key asked for with get) is pointed to there. */
static int print_value(const struct area *a, const struct area *other, const char *key) {
    static char value[DEVMGR_VALUE_MAX + 1];
    int r = read_value(a, a->read_verb, key, value);
    int there;
    if (r == 0) {
        printf("%s\n", value);
    } else if (r == 1 && (there = other->get(key, value, 2)) != DEVMGR_ABSENT &&
               there != DEVMGR_ERROR) {
        fprintf(stderr, "devmgr: %s is a %s key: devmgr %s %s\n", key, other->what,
                other->read_verb, key);
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
    /* Every name is kept; the list stops early only when memory or the
     * directory fails, and then says so after what it printed. */
    char **names = NULL;
    size_t n = 0, room = 0;
    const char *stopped = NULL;
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(d);
        if (e == NULL) {
            stopped = errno != 0 ? strerror(errno) : NULL;
            break;
        }
        if (!devmgr_key_valid(e->d_name)) {
            continue;
        }
        char **more = n < room ? names : realloc(names, (room = room * 2 + 64) * sizeof *names);
        char *name = more != NULL ? strdup(e->d_name) : NULL;
        if (name == NULL) {
            names = more != NULL ? more : names;
            stopped = "out of memory";
            break;
        }
        names = more;
        names[n++] = name;
    }
    closedir(d);
    qsort(names, n, sizeof names[0], compare_names);
    static char value[DEVMGR_VALUE_MAX + 1];
    int worst = 0;
    for (size_t i = 0; i < n; i++) {
        int r = read_value(a, "list", names[i], value);
        if (r == 0) {
            printf("%s=%s\n", names[i], value);
        }
        worst = r == 2 ? 2 : worst;
        free(names[i]);
    }
    free(names);
    if (stopped != NULL) {
        fprintf(stderr, "devmgr: list of %s stopped after %zu keys: %s\n", dir, n, stopped);
        worst = 2;
    }
    return worst;
}

static const struct verb {
    const char *name;
    int min_args, max_args;
} verbs[] = {{"get", 1, 1}, {"set", 2, 2}, {"unset", 1, 1}, {"list", 0, 0}, {"status", 0, 1}};
enum { GET, SET, UNSET, LIST, STATUS, VERBS };

static int same(char x, char y) {
    return tolower((unsigned char)x) == tolower((unsigned char)y);
}

/* Edits from A to a verb B: insertions, deletions, substitutions and swaps
 * of two neighbours ("lsit" is one from "list"); case does not count. */
static size_t distance(const char *a, const char *b) {
    size_t rows[3][8];
    size_t *two = rows[0], *one = rows[1], *cur = rows[2];
    size_t nb = strlen(b);
    for (size_t j = 0; j <= nb; j++) {
        one[j] = j;
    }
    for (size_t i = 1; a[i - 1] != '\0'; i++) {
        cur[0] = i;
        for (size_t j = 1; j <= nb; j++) {
            size_t best = one[j - 1] + !same(a[i - 1], b[j - 1]);
            best = one[j] + 1 < best ? one[j] + 1 : best;
            best = cur[j - 1] + 1 < best ? cur[j - 1] + 1 : best;
            if (i > 1 && j > 1 && same(a[i - 1], b[j - 2]) && same(a[i - 2], b[j - 1]) &&
                two[j - 2] + 1 < best) {
                best = two[j - 2] + 1;
            }
            cur[j] = best;
        }
        size_t *done = two;
        two = one;
        one = cur;
        cur = done;
    }
    return one[nb];
}

/* The verb WORD most likely meant: the fewest edits, and of equals one that
 * WORD begins ("stat" means status rather than set). */
static const char *nearest_verb(const char *word) {
    size_t best = 0, best_score = (size_t)-1;
    for (size_t v = 0; v < VERBS; v++) {
        size_t score = 2 * distance(word, verbs[v].name) +
                       (strncasecmp(verbs[v].name, word, strlen(word)) != 0);
        if (score < best_score) {
            best = v;
            best_score = score;
        }
    }
    return verbs[best].name;
}

static int bad_usage(const char *word) {
    if (word != NULL) {
        fprintf(stderr, "devmgr: unknown verb \"%s\"; the nearest is \"%s\"\n", word,
                nearest_verb(word));
    }
    fputs(usage, stderr);
    return 2;
}

int main(int argc, char **argv) {
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(help, stdout);
        return 0;
    }
    size_t v = 0;
    while (argc >= 2 && v < VERBS && strcmp(argv[1], verbs[v].name) != 0) {
        v++;
    }
    if (argc < 2 || v == VERBS) {
        return bad_usage(argc < 2 ? NULL : argv[1]);
    }
    if (argc - 2 < verbs[v].min_args || argc - 2 > verbs[v].max_args) {
        return bad_usage(NULL);
    }
    const char *key = argv[2];
    int r;
    switch (v) {
        case GET:
            return print_value(&config, &status, key);
        case SET:
            r = devmgr_cfg_set(key, argv[3]);
            break;
        case UNSET:
            r = devmgr_cfg_unset(key);
            break;
        case LIST:
            return list_dir(&config);
        default:
            return argc == 2 ? list_dir(&status) : print_value(&status, &config, key);
    }
    return r == DEVMGR_OK ? 0 : fail_in(&config, verbs[v].name, key, r);
}
