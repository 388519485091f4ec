// The rows' names.
#include "changes.h"

namespace pbview {

namespace {

const char *const kNames[kValueCount] = {"daemon",  "dc",     "port1",   "port2", "led1",
                                         "led2",    "poe1",   "poe2",    "ups",   "oc_poe1",
                                         "oc_poe2", "oc_ups", "oc_total"};

}  // namespace

const char *row_name(int row) {
    if (row >= 0 && row < kValueCount) {
        return kNames[row];
    }
    return row == kEventRow ? "event" : row == kRedetectRow ? "redetect" : "";
}

bool row_from_name(const char *name, size_t n, int *row) {
    for (int r = kRedetectRow; r < kValueCount; ++r) {
        const char *known = row_name(r);
        if (strlen(known) == n && memcmp(known, name, n) == 0) {
            *row = r;
            return true;
        }
    }
    return false;
}

}  // namespace pbview
