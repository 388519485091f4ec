// The rows' names.
#include "changes.h"

#include <stdio.h>

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
    return row == kEventRow      ? "event"
           : row == kRedetectRow ? "redetect"
           : row == kInputRow    ? "input"
                                 : "";
}

bool row_from_name(const char *name, size_t n, int *row) {
    for (int r = kFirstRow; r < kValueCount; ++r) {
        const char *known = row_name(r);
        if (strlen(known) == n && memcmp(known, name, n) == 0) {
            *row = r;
            return true;
        }
    }
    return false;
}

const char *oc_words(const char *value, bool total) {
    switch (value[0] != '\0' && value[1] == '\0' ? value[0] : '?') {
        case '0':
            return "off (0)";
        case '1':
            return "idle (1)";
        case '2':
            return total ? "ok (2)" : "load (2)";
        case '3':
            return "OVER (3)";
        default:
            return value;
    }
}

void format_blink(char *out, size_t size, int64_t period_ms) {
    const long tenths = static_cast<long>((period_ms + 50) / 100);
    if (period_ms <= 0) {
        snprintf(out, size, "blink");
    } else {
        snprintf(out, size, "blink/%ld.%lds", tenths / 10, tenths % 10);
    }
}

bool parse_blink(const char *value, int64_t *period_ms) {
    if (strncmp(value, "blink", 5) != 0) {
        return false;
    }
    *period_ms = 0;
    if (value[5] == '\0') {
        return true;
    }
    unsigned whole = 0;
    unsigned tenth = 0;
    char s = 0;
    char end = 0;
    if (sscanf(value + 5, "/%u.%1u%c%c", &whole, &tenth, &s, &end) != 3 || s != 's' ||
        whole > 3600) {
        return false;
    }
    *period_ms = static_cast<int64_t>(whole) * 1000 + tenth * 100;
    return true;
}

}  // namespace pbview
