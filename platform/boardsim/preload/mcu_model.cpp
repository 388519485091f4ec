// The MS51 driver's attribute files: request/response reads, register writes,
// output controls and LEDs.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context.h"
#include "model_parts.h"

namespace boardsim {

const char *const kMcuFiles[kMcuFileCount] = {
    "ms51_reg",       "ms51_adc",      "ms51_over_current", "ms51_pse1_ctrl",
    "ms51_pse2_ctrl", "ms51_ups_ctrl", "ms51_leds",
};

namespace {

// Model files of the three controls.
const char *const kControlFiles[] = {"mcu/pse1_ctrl", "mcu/pse2_ctrl", "mcu/ups_ctrl"};

}  // namespace

ssize_t mcu_store(const Target &t, const char *text) {
    unsigned a = 0;
    unsigned b = 0;
    int d = 0;
    char rel[64];
    switch (t.mcu) {
        case kAdc:
        case kOverCurrent:
        case kReg:
            if (sscanf(text, "r %x", &a) == 1) {
                snprintf(rel, sizeof rel, "mcu/req/%s", kMcuFiles[t.mcu]);
                return board_store_number(rel, static_cast<long>(a));
            }
            if (t.mcu != kAdc && sscanf(text, "w %x %x", &a, &b) == 2) {
                snprintf(rel, sizeof rel, "mcu/reg/%02x", a);
                return board_store_number(rel, static_cast<long>(b));
            }
            return -EINVAL;
        case kPse1:
        case kPse2:
        case kUps:
            if (sscanf(text, "%d", &d) != 1) {
                return -EINVAL;
            }
            return board_store_number(kControlFiles[t.mcu - kPse1], d);
        case kLeds:
            if (sscanf(text, "%x %d", &a, &d) != 2) {
                return -EINVAL;
            }
            snprintf(rel, sizeof rel, "mcu/led/%x", a);
            return board_store_number(rel, d);
        default:
            return -EINVAL;
    }
}

ssize_t mcu_show(const Target &t, char *buf, size_t size) {
    char rel[64];
    char path[kPathMax];
    // An answer given whole stands for the model's (a driver that says more).
    snprintf(rel, sizeof rel, "in/answer/%s", kMcuFiles[t.mcu]);
    if (board_path(path, sizeof path, rel)) {
        const ssize_t n = read_file(path, buf, size);
        if (n >= 0) {
            return n;
        }
    }
    if (t.mcu == kAdc) {
        long channel = board_number("mcu/req/ms51_adc", 0);
        snprintf(rel, sizeof rel, "in/adc/%02lx", channel);
        return snprintf(buf, size, "%lx\n", static_cast<unsigned long>(board_number(rel, 0)));
    }
    if (t.mcu == kOverCurrent) {
        long reg = board_number("mcu/req/ms51_over_current", 0);
        snprintf(rel, sizeof rel, "mcu/reg/%02lx", reg);
        return snprintf(buf, size, "%ld\n", board_number(rel, 0));
    }
    return 0;  // write-only attributes read empty
}

}  // namespace boardsim
