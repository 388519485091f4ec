// run: start a program on a board.
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "board_files.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

constexpr int kMaxArgs = 256;

// Keeps virtual time continuous while the speed changes.
bool set_speed(const char *dir, double speed) {
    Clock clock;
    if (!read_clock(dir, &clock)) {
        return false;
    }
    if (clock.speed == speed) {
        return true;
    }
    int64_t now = mono_ns();
    double virtual_ns = static_cast<double>(now - clock.epoch_ns) * clock.speed;
    clock.epoch_ns = now - static_cast<int64_t>(virtual_ns / speed);
    clock.speed = speed;
    return write_clock(dir, clock) == 0;
}

void set_default(const char *name, const char *dir, const char *leaf) {
    if (getenv(name) != nullptr) {
        return;
    }
    char path[kPathMax];
    if (path_join(path, sizeof path, dir, leaf)) {
        setenv(name, path, 1);
    }
}

}  // namespace

int cmd_run(int argc, char **argv) {
    const char *dir_arg = argv[0];
    double speed = 0;
    int i = 1;
    if (i < argc && strcmp(argv[i], "--speed") == 0) {
        char *end = nullptr;
        if (i + 1 >= argc || (speed = strtod(argv[i + 1], &end), end == argv[i + 1] || *end) ||
            !(speed > 0)) {
            return usage("--speed takes a positive number");
        }
        i += 2;
    }
    if (i >= argc || strcmp(argv[i], "--") != 0 || i + 1 >= argc) {
        return usage("run DIR [--speed N] -- CMD [ARGS...]");
    }
    char **cmd = argv + i + 1;
    int cmd_count = argc - i - 1;

    char dir[PATH_MAX];
    if (realpath(dir_arg, dir) == nullptr || !is_board(dir)) {
        fprintf(stderr, "boardsim: %s is not a board (run boardsim init first)\n", dir_arg);
        return kUsage;
    }
    if (speed <= 0) {
        const char *env = getenv("BOARDSIM_SPEED");
        Clock clock;
        speed = env != nullptr ? sane_speed(strtod(env, nullptr))
                               : (read_clock(dir, &clock) ? clock.speed : 1.0);
    }
    if (!set_speed(dir, speed)) {
        fprintf(stderr, "boardsim: cannot set the speed of %s\n", dir);
        return kFailed;
    }
    char text[64];
    snprintf(text, sizeof text, "%.17g", speed);
    setenv("BOARDSIM_DIR", dir, 1);
    setenv("BOARDSIM_SPEED", text, 1);
    set_default("DEVMGR_CONFIG_DIR", dir, "config");
    set_default("DEVMGR_STATUS_DIR", dir, "status");

    // Sanitizer runtimes insist on being first in the library list; the
    // preload library must be first too.
    static char asan[4096];
    const char *old_asan = getenv("ASAN_OPTIONS");
    snprintf(asan, sizeof asan, "%s%sverify_asan_link_order=0", old_asan ? old_asan : "",
             old_asan && old_asan[0] ? ":" : "");
    setenv("ASAN_OPTIONS", asan, 1);

    const char *lib = getenv("BOARDSIM_PRELOAD");
    if (lib == nullptr || lib[0] == '\0') {
        lib = BOARDSIM_PRELOAD_PATH;
    }
    static char preload[8192];
    const char *emulator = getenv("BOARDSIM_EMULATOR");
    static char *args[kMaxArgs + 8];
    int n = 0;
    static char emu_words[4096];
    if (emulator != nullptr && emulator[0] != '\0') {
        // EMULATOR -E LD_PRELOAD=LIB CMD...: only the emulated program loads it.
        snprintf(emu_words, sizeof emu_words, "%s", emulator);
        char *save = nullptr;
        for (char *w = strtok_r(emu_words, " \t", &save); w && n < kMaxArgs;
             w = strtok_r(nullptr, " \t", &save)) {
            args[n++] = w;
        }
        snprintf(preload, sizeof preload, "LD_PRELOAD=%s", lib);
        args[n++] = const_cast<char *>("-E");
        args[n++] = preload;
    } else {
        const char *old = getenv("LD_PRELOAD");
        snprintf(preload, sizeof preload, "%s%s%s", lib, old && old[0] ? ":" : "", old ? old : "");
        setenv("LD_PRELOAD", preload, 1);
    }
    if (cmd_count + n > kMaxArgs) {
        return usage("too many arguments");
    }
    for (int k = 0; k < cmd_count; ++k) {
        args[n++] = cmd[k];
    }
    args[n] = nullptr;
    watch_program(dir, cmd[0]);
    execvp(args[0], args);
    fprintf(stderr, "boardsim: cannot run %s: %s\n", args[0], strerror(errno));
    return 127;
}

}  // namespace boardsim_tool
