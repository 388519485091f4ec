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

const char kSettingNames[] =
    "poe1 poe2 ups delay poe1_threshold poe2_threshold ups_threshold total_power "
    "detection_time dc_absent_passes debug";

namespace {

// A mode's or the debug flag's word for VALUE; null for other settings.
const char *words(const Setting &s, int value) {
    static const char *const kWords[] = {"off", "on", "auto"};  // by stored number
    return s.kind == Kind::kMode || s.kind == Kind::kDebug ? kWords[value] : nullptr;
}

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
    if (got == DEVMGR_TOO_LONG || got == DEVMGR_NOT_TEXT) {
        snprintf(r->raw, sizeof r->raw, "(%s)", devmgr_strerror(got));
    }
    // Exactly as the daemon reads it: into a zero-filled buffer of its size.
    char value[16] = {};
    (void)devmgr_cfg_get(s.key, value, s.room);
    const int n = atoi(value);
    const bool empty = value[0] == '\0';
    switch (s.kind) {
        case Kind::kMode:
        case Kind::kDebug:
            // Compared as text: "2" automatic (modes only), "1" on, anything else off.
            r->value =
                value[0] >= '1' && value[0] <= '0' + s.max && value[1] == '\0' ? value[0] - '0' : 0;
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
    r->as_written = strcmp(text, r->raw) == 0;
}

void setting_words(const Setting &s, int value, char *out, size_t size) {
    const char *word = words(s, value);
    if (word != nullptr) {
        snprintf(out, size, "%s", word);
    } else if (s.kind == Kind::kDelay) {
        char secs[24];
        seconds(value, secs, sizeof secs);
        snprintf(out, size, "%s s", secs);
    } else {
        snprintf(out, size, "%d", value);
    }
}

void setting_json(const Setting &s, int value, char *out, size_t size) {
    const char *word = words(s, value);
    if (s.kind == Kind::kDelay) {
        seconds(value, out, size);
    } else if (word != nullptr) {
        snprintf(out, size, s.kind == Kind::kDebug ? "%s" : "\"%s\"",
                 s.kind == Kind::kDebug ? (value != 0 ? "true" : "false") : word);
    } else {
        snprintf(out, size, "%d", value);
    }
}

bool setting_parse(const Setting &s, const char *text, char *stored, size_t size,
                   const char **accepted) {
    static const char *const kAccepted[] = {
        "auto, on or off",
        "0.000001 to 999.999999 (seconds)",
        "1 to 9999 (four digits)",
        "1 to 255 (one byte)",
        "1 to 30",
        "on or off",
    };
    *accepted = kAccepted[static_cast<int>(s.kind)];
    if (strcmp(text, "default") == 0) {
        snprintf(stored, size, "%s", "");
        return true;
    }
    int value = -1;
    if (s.kind == Kind::kMode || s.kind == Kind::kDebug) {
        for (int v = s.min; v <= s.max; ++v) {
            value = strcmp(text, words(s, v)) == 0 ? v : value;
        }
    } else if (s.kind == Kind::kDelay ? !parse_seconds(text, &value)
                                      : !parse_number(text, &value)) {
        value = -1;
    }
    if (value < s.min || value > s.max) {
        return false;
    }
    snprintf(stored, size, "%d", value);  // every setting is stored as a decimal number
    return true;
}

}  // namespace powerbankctl
