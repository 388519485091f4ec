#include "context.h"

#include <stdlib.h>
#include <string.h>

namespace boardsim {

namespace {

Context g_context;
// 0 not started, 1 being set up, 2 ready.
int g_state = 0;

void setup() {
    const char *dir = getenv("BOARDSIM_DIR");
    if (dir == nullptr || dir[0] != '/' || strlen(dir) + 64 >= sizeof g_context.dir) {
        return;
    }
    strcpy(g_context.dir, dir);
    if (!read_clock(dir, &g_context.clock)) {
        // A board without a clock starts its virtual time now.
        g_context.clock.epoch_ns = mono_ns();
        g_context.clock.speed = 1.0;
    }
    g_context.sleep_speed = g_context.clock.speed;
    if (const char *s = getenv("BOARDSIM_SPEED")) {
        g_context.sleep_speed = sane_speed(strtod(s, nullptr));
    }
    const char *status = getenv("DEVMGR_STATUS_DIR");
    if (status != nullptr && strlen(status) < sizeof g_context.status_dir) {
        strcpy(g_context.status_dir, status);
    }
    g_context.active = true;
}

}  // namespace

const Context &context() {
    int state = __atomic_load_n(&g_state, __ATOMIC_ACQUIRE);
    if (state == 2) {
        return g_context;
    }
    int expected = 0;
    if (__atomic_compare_exchange_n(&g_state, &expected, 1, false, __ATOMIC_ACQ_REL,
                                    __ATOMIC_ACQUIRE)) {
        setup();
        __atomic_store_n(&g_state, 2, __ATOMIC_RELEASE);
        return g_context;
    }
    // Another thread is setting up: wait for it (it only reads a small file).
    while (__atomic_load_n(&g_state, __ATOMIC_ACQUIRE) != 2) {
    }
    return g_context;
}

__attribute__((constructor)) static void boardsim_init() {
    (void)context();
}

void journal(const char *text) {
    const Context &c = context();
    if (c.active) {
        journal_line(c.dir, c.clock, text);
    }
}

void journal_bytes(const char *kind, const char *name, const char *op, const void *data, size_t len,
                   int err, const char *tags) {
    const Context &c = context();
    if (c.active) {
        journal_data(c.dir, c.clock, kind, name, op, data, len, err, tags);
    }
}

bool board_path(char *out, size_t size, const char *rel) {
    return path_join(out, size, context().dir, rel);
}

}  // namespace boardsim
