// init and the input verbs: the changes they make, carried out on the board.
#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board_files.h"
#include "input_args.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

constexpr unsigned kSelectorReg = 0x10;

bool put(const char *dir, const char *rel, const char *text) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, rel) ||
        write_file_atomic(path, text, strlen(text)) != 0) {
        fprintf(stderr, "boardsim: cannot write %s/%s: %s\n", dir, rel, strerror(errno));
        return false;
    }
    return true;
}

bool put_number(const char *dir, const char *rel, long value) {
    char text[32];
    snprintf(text, sizeof text, "%ld\n", value);
    return put(dir, rel, text);
}

void remove_tree(const char *path) {
    DIR *d = opendir(path);
    if (d == nullptr) {
        unlink(path);
        return;
    }
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) {
            continue;
        }
        char child[kPathMax];
        if (path_join(child, sizeof child, path, e->d_name)) {
            remove_tree(child);
        }
    }
    closedir(d);
    rmdir(path);
}

int verb_i2c(const char *dir, int argc, char **argv) {
    static const char kForm[] = "i2c ADDR none | i2c ADDR REG BYTE...";
    long addr = 0;
    if (argc < 3) {
        return usage_of(kForm, "i2c takes an ADDR and none, or REG BYTE...");
    }
    if (!parse_long(argv[1], 16, &addr) || addr < 0 || addr > 0x7f) {
        return usage_of(kForm, "i2c: ADDR is hex 00..7f, not '%s'", argv[1]);
    }
    char path[kPathMax];
    char rel[16];
    snprintf(rel, sizeof rel, "i2c/%02lx", addr);
    if (!path_join(path, sizeof path, dir, rel)) {
        return kFailed;
    }
    if (argc == 3 && strcmp(argv[2], "none") == 0) {
        unlink(path);
        return kOk;
    }
    if (argc < 4) {
        return usage_of(kForm, "i2c %s takes none, or a REG and at least one BYTE", argv[1]);
    }
    // Later lines win, so the new bytes go at the end.
    char text[4096];
    ssize_t len = read_file(path, text, sizeof text);
    size_t at = len > 0 ? static_cast<size_t>(len) : 0;
    for (int i = 2; i < argc; ++i) {
        long v = 0;
        if (!parse_long(argv[i], 16, &v) || v < 0 || v > 0xff) {
            return usage_of(kForm, "i2c: REG and BYTEs are hex 00..ff, not '%s'", argv[i]);
        }
        int n = snprintf(text + at, sizeof text - at, "%02lx%s", v, i + 1 < argc ? " " : "\n");
        if (n < 0 || static_cast<size_t>(n) >= sizeof text - at) {
            fprintf(stderr, "boardsim: register file of %02lx too long\n", addr);
            return kFailed;
        }
        at += static_cast<size_t>(n);
    }
    return write_file_atomic(path, text, at) == 0 ? kOk : kFailed;
}

// Adds or removes one fault line, or clears them all.
int apply_fault(const char *dir, const InputChange &change) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, "faults")) {
        return kFailed;
    }
    if (change.kind == InputChange::kClearFaults) {
        unlink(path);
        return kOk;
    }
    char text[4096];
    char out[4096];
    ssize_t len = read_file(path, text, sizeof text);
    size_t at = 0;
    if (len > 0) {
        char *save = nullptr;
        for (char *l = strtok_r(text, "\n", &save); l; l = strtok_r(nullptr, "\n", &save)) {
            if (strcmp(l, change.text) != 0 && at < sizeof out) {
                at += static_cast<size_t>(snprintf(out + at, sizeof out - at, "%s\n", l));
            }
        }
    }
    if (change.kind == InputChange::kAddFault && at < sizeof out) {
        at += static_cast<size_t>(snprintf(out + at, sizeof out - at, "%s\n", change.text));
    }
    if (at >= sizeof out) {
        return kFailed;
    }
    return write_file_atomic(path, out, at) == 0 ? kOk : kFailed;
}

}  // namespace

bool is_board(const char *dir) {
    Clock clock;
    return read_clock(dir, &clock);
}

void journal_input(const char *dir, const char *verb, int argc, char **argv) {
    Clock clock;
    if (!read_clock(dir, &clock)) {
        return;
    }
    char args[1024];
    size_t at = 0;
    args[0] = '\0';
    for (int i = 1; i < argc && at < sizeof args; ++i) {
        int n = snprintf(args + at, sizeof args - at, "%s%s", i > 1 ? " " : "", argv[i]);
        if (n < 0) {
            break;
        }
        at += static_cast<size_t>(n);
    }
    if (at >= sizeof args) {
        at = sizeof args - 1;
    }
    journal_data(dir, clock, "input", verb, "set", args, at, 0, nullptr);
}

int cmd_init(const char *dir) {
    if (mkdirs(dir) != 0) {
        fprintf(stderr, "boardsim: cannot create %s: %s\n", dir, strerror(errno));
        return kFailed;
    }
    // A fresh model; the store (config/, status/) is left as it is.
    static const char *const kModel[] = {"gpio", "mcu", "led",    "in",
                                         "i2c",  "run", "faults", "journal"};
    for (const char *rel : kModel) {
        char path[kPathMax];
        if (path_join(path, sizeof path, dir, rel)) {
            remove_tree(path);
        }
    }
    static const char *const kDirs[] = {"config", "status",  "run", "in/adc",
                                        "gpio",   "mcu/reg", "led"};
    for (const char *rel : kDirs) {
        char path[kPathMax];
        if (!path_join(path, sizeof path, dir, rel) || mkdirs(path) != 0) {
            fprintf(stderr, "boardsim: cannot create %s/%s: %s\n", dir, rel, strerror(errno));
            return kFailed;
        }
    }
    char text[32];
    snprintf(text, sizeof text, "%02x 00\n", kSelectorReg);
    bool ok = put(dir, "in/dc", "1\n") && put(dir, "i2c/43", text) && put(dir, "i2c/40", text) &&
              put(dir, "i2c/53", "1c 00\n") && put_number(dir, "mcu/reg/a9", 0) &&
              put(dir, "journal", "");
    Clock clock;
    clock.epoch_ns = mono_ns();
    clock.speed = 1.0;
    if (!ok || write_clock(dir, clock) != 0) {
        return kFailed;
    }
    return kOk;
}

int cmd_input(const char *dir, int argc, char **argv) {
    const char *verb = argv[0];
    int status = kOk;
    if (strcmp(verb, "i2c") == 0) {
        status = verb_i2c(dir, argc, argv);
    } else {
        InputChanges changes;
        if (!parse_input(argc, argv, &changes)) {
            return usage_of(changes.usage, "%s", changes.why);
        }
        for (int i = 0; i < changes.count && status == kOk; ++i) {
            const InputChange &c = changes.items[i];
            status = c.kind == InputChange::kPut ? (put(dir, c.rel, c.text) ? kOk : kFailed)
                                                 : apply_fault(dir, c);
        }
    }
    if (status == kOk) {
        journal_input(dir, verb, argc, argv);
    }
    return status;
}

}  // namespace boardsim_tool
