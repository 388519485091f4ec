// The board the current process runs on, found through BOARDSIM_DIR.
#pragma once

#include "board_files.h"

namespace boardsim {

struct Context {
    bool active = false;       // false: every call passes straight through
    char dir[kPathMax] = {};   // absolute board directory
    Clock clock;               // journal stamps
    double sleep_speed = 1.0;  // sleeps are divided by this
    // The store's status directory ($DEVMGR_STATUS_DIR), empty when unset:
    // values renamed into it are journalled.
    char status_dir[kPathMax] = {};
};

// The context, set up on first use (safe from constructors and early loader
// calls: it only reads the environment and one small file).
const Context &context();

// Journal helpers bound to the current board.
void journal(const char *text);
void journal_bytes(const char *kind, const char *name, const char *op, const void *data, size_t len,
                   int err, const char *tags = nullptr);

// DIR/REL for the current board; false when it does not fit.
[[nodiscard]] bool board_path(char *out, size_t size, const char *rel);

}  // namespace boardsim
