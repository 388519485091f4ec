// The daemon's settings: their store keys, how the daemon reads each one
// (its buffer, atoi, the values it replaces by its default), and what `set`
// takes for them.
#pragma once

#include <stddef.h>

namespace powerbankctl {

enum class Kind {
    kMode,    // "2" automatic, "1" always on, anything else always off
    kDelay,   // microseconds between output switches; above 0, else the default
    kWord,    // a threshold: both bytes of the number reach the MCU; 0 is the default
    kByte,    // the detection time: only the low byte reaches the MCU; 0 is the default
    kPasses,  // the DC-absent count: 1 to 30 (and below 0) as given, else the default
    kDebug,   // "1" on, anything else off
};
// (The order is that of the accepted values' texts in settings.cpp.)

struct Setting {
    const char *name;  // as `set`, the status panel and the JSON name it
    const char *key;
    Kind kind;
    size_t room;    // the daemon's buffer, its terminator included
    int fallback;   // the daemon's default
    int min, max;   // numbers `set` takes
    bool at_start;  // read once at the daemon's start, else at every policy pass
};

constexpr int kSettingCount = 11;
extern const Setting kSettings[kSettingCount];
// Their names, for messages: "poe1 poe2 ... debug".
extern const char kSettingNames[];
// The setting NAME (LEN bytes) names, or null.
const Setting *setting_named(const char *name, size_t len);

// A stored value and what the daemon makes of it.
struct Reading {
    bool stored;      // the key holds a value
    char raw[72];     // that value as stored, or "(" the store's reason ")" when it
                      // holds more than raw does or no text
    int value;        // what the daemon uses: mode 0..2, microseconds, number, 0/1
    bool is_default;  // the daemon's default, for want of a value it takes
    bool as_written;  // raw is what `set` writes for VALUE (its decimal number)
};
void setting_read(const Setting &s, Reading *r);

// VALUE in words ("auto", "2.5 s", "1500", "on").
void setting_words(const Setting &s, int value, char *out, size_t size);
// VALUE for JSON: a string for modes, seconds for the delay, a number, a boolean.
void setting_json(const Setting &s, int value, char *out, size_t size);

// TEXT as given to `set` ("auto", "2.5", "1500", "on", or "default") into the
// text to store ("" for default: the key is removed). False when the daemon
// would not read TEXT as meant; *ACCEPTED says what is taken.
bool setting_parse(const Setting &s, const char *text, char *stored, size_t size,
                   const char **accepted);

}  // namespace powerbankctl
