// The settings as the daemon reads them, and as `set` writes them.
#include "settings.h"

#include <devmgr.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace powerbankctl {

// Rooms are the daemon's buffers: a mode or the debug flag one character,
// the delay nine, the numbers four. A longer value does not fit and counts as
// absent, so the default applies.
const Setting kSettings[kSettingCount] = {
    {"poe1", "DBID_POE1_ENABLE", Kind::kMode, 2, 0, 0, 2, false},
    {"poe2", "DBID_POE2_ENABLE", Kind::kMode, 2, 0, 0, 2, false},
    {"ups", "DBID_UPS_ENABLE", Kind::kMode, 2, 0, 0, 2, false},
    {"delay", "DBID_POE_AND_UPS_SET_DElAY", Kind::kDelay, 10, 1000000, 1, 999999999, false},
    {"poe1_threshold", "DBID_POE1_THRESHOLD", Kind::kWord, 5, 1500, 1, 9999, true},
    {"poe2_threshold", "DBID_POE2_THRESHOLD", Kind::kWord, 5, 1500, 1, 9999, true},
    {"ups_threshold", "DBID_UPS_THRESHOLD", Kind::kWord, 5, 2400, 1, 9999, true},
    {"total_power", "DBID_TOTAL_RATED_POWER", Kind::kWord, 5, 4000, 1, 9999, true},
    {"detection_time", "DBID_OVER_CURREN_DETECTION_TIME", Kind::kByte, 5, 3, 1, 255, true},
    {"dc_absent_passes", "DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", Kind::kPasses, 5, 10, 1, 30,
     true},
    {"debug", "DBID_POWERBANK_DEBUG", Kind::kDebug, 2, 0, 0, 1, true},
};

namespace {

const char *const kModes[] = {"off", "on", "auto"};  // by stored number

// Seconds of US microseconds, exactly: "1", "2.5", "0.000001".
void seconds(int us, char *out, size_t size) {
    int n = snprintf(out, size, "%d.%06d", us / 1000000, us % 1000000);
    while (n > 0 && out[n - 1] == '0') {
        out[--n] = '\0';
    }
    if (n > 0 && out[n - 1] == '.') {
        out[--n] = '\0';
    }
}

// "2.5" seconds into microseconds: digits, and at most six decimals.
bool parse_seconds(const char *text, int *us) {
    long whole = 0;
    long frac = 0;
    int places = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9' && p - text < 4; ++p) {
        whole = whole * 10 + (*p - '0');
    }
    if (p == text) {
        return false;
    }
    if (*p == '.') {
        for (++p; *p >= '0' && *p <= '9' && places < 6; ++p, ++places) {
            frac = frac * 10 + (*p - '0');
        }
        if (places == 0) {
            return false;
        }
    }
    for (int i = places; i < 6; ++i) {
        frac *= 10;
    }
    *us = static_cast<int>(whole * 1000000 + frac);
    return *p == '\0' && whole < 1000;
}

// A decimal number of at most nine digits, no sign.
bool parse_number(const char *text, int *value) {
    size_t n = strlen(text);
    if (n == 0 || n > 9 || strspn(text, "0123456789") != n) {
        return false;
    }
    *value = atoi(text);
    return true;
}

}  // namespace

const Setting *setting_named(const char *name, size_t len) {
    for (const Setting &s : kSettings) {
        if (strlen(s.name) == len && memcmp(s.name, name, len) == 0) {
            return &s;
        }
    }
    return nullptr;
}

void setting_read(const Setting &s, Reading *r) {
    const int got = devmgr_cfg_get(s.key, r->raw, sizeof r->raw);
    r->stored = got != DEVMGR_ABSENT && got != DEVMGR_BAD_KEY;
    r->raw_cut = got == DEVMGR_TOO_LONG || got == DEVMGR_NOT_TEXT;
    // Exactly as the daemon reads it: into a zero-filled buffer of its size.
    char value[16] = {};
    (void)devmgr_cfg_get(s.key, value, s.room);
    const int n = atoi(value);
    const bool empty = value[0] == '\0';
    switch (s.kind) {
        case Kind::kMode:
            r->value = strcmp(value, "2") == 0 ? 2 : strcmp(value, "1") == 0 ? 1 : 0;
            r->is_default = empty;
            break;
        case Kind::kDebug:
            r->value = strcmp(value, "1") == 0 ? 1 : 0;
            r->is_default = empty;
            break;
        case Kind::kDelay:
            r->is_default = n <= 0;
            r->value = r->is_default ? s.fallback : n;
            break;
        case Kind::kWord:
        case Kind::kByte:
            r->is_default = empty || n == 0;
            r->value = r->is_default ? s.fallback : n & (s.kind == Kind::kWord ? 0xffff : 0xff);
            break;
        case Kind::kPasses:
            r->is_default = empty || n == 0 || n >= 31;
            r->value = r->is_default ? s.fallback : n;
            break;
    }
    char text[16];
    snprintf(text, sizeof text, "%d", r->value);
    r->as_written = !r->raw_cut && strcmp(text, r->raw) == 0;
}

void setting_words(const Setting &s, int value, char *out, size_t size) {
    if (s.kind == Kind::kMode) {
        snprintf(out, size, "%s", kModes[value]);
    } else if (s.kind == Kind::kDebug) {
        snprintf(out, size, "%s", value != 0 ? "on" : "off");
    } else if (s.kind == Kind::kDelay) {
        char secs[24];
        seconds(value, secs, sizeof secs);
        snprintf(out, size, "%s s", secs);
    } else {
        snprintf(out, size, "%d", value);
    }
}

void setting_json(const Setting &s, int value, char *out, size_t size) {
    if (s.kind == Kind::kMode) {
        snprintf(out, size, "\"%s\"", kModes[value]);
    } else if (s.kind == Kind::kDebug) {
        snprintf(out, size, "%s", value != 0 ? "true" : "false");
    } else if (s.kind == Kind::kDelay) {
        seconds(value, out, size);
    } else {
        snprintf(out, size, "%d", value);
    }
}

bool setting_parse(const Setting &s, const char *text, char *stored, size_t size, char *accepted,
                   size_t accepted_size) {
    if (strcmp(text, "default") == 0) {
        snprintf(stored, size, "%s", "");
        return true;
    }
    int value = -1;
    bool ok = false;
    switch (s.kind) {
        case Kind::kMode:
            for (int m = 0; m < 3; ++m) {
                value = strcmp(text, kModes[m]) == 0 ? m : value;
            }
            ok = value >= 0;
            snprintf(accepted, accepted_size, "auto, on or off");
            break;
        case Kind::kDebug:
            value = strcmp(text, "on") == 0 ? 1 : strcmp(text, "off") == 0 ? 0 : -1;
            ok = value >= 0;
            snprintf(accepted, accepted_size, "on or off");
            break;
        case Kind::kDelay:
            ok = parse_seconds(text, &value) && value >= s.min && value <= s.max;
            snprintf(accepted, accepted_size,
                     "0.000001 to 999.999999 seconds, at most six decimals (the daemon reads "
                     "microseconds, at most nine digits)");
            break;
        default:
            ok = parse_number(text, &value) && value >= s.min && value <= s.max;
            snprintf(accepted, accepted_size, "%d to %d%s", s.min, s.max,
                     s.kind == Kind::kWord   ? " (the daemon reads at most four digits)"
                     : s.kind == Kind::kByte ? " (only the low byte reaches the MCU)"
                                             : " (31 and above count as 10)");
            break;
    }
    if (ok) {
        snprintf(stored, size, "%d", value);  // every setting is stored as a decimal number
    }
    return ok;
}

}  // namespace powerbankctl
