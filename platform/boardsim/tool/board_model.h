// What a person watching the board wants to know, built by replaying the
// journal: DC, the bank each port detected, the port LEDs, the outputs, the
// over-current states, re-detections and bus events.
//
// Every change is reported with the virtual time at which it happened on the
// board. LED states are told from the recent writes (a blinking LED is written
// on and off), so they are settled up to a window after the fact and
// reported with the time of the write that began them: a change the model
// reports after it has been brought to time T never lies before T - window.
#pragma once

#include <stdint.h>
#include <string.h>

#include "journal_reader.h"

namespace boardsim_tool {

// The values of the view, in the order in which they are listed.
enum ViewValue : int {
    kDc,
    kPort1,
    kPort2,
    kLed1,
    kLed2,
    kPoe1,
    kPoe2,
    kUps,
    kOcPoe1,
    kOcPoe2,
    kOcUps,
    kOcTotal,
    kValueCount,
};
// "dc", "port1", ..., "oc_total": the names the line view prints.
const char *value_name(int value);

// The window in which an LED that changed level twice blinks, and that a
// level must be held to be steady or off: a blink period and a half, plus
// room for an LED thread that runs late on a busy host, which a fast board
// stretches by its speed (50 real milliseconds are 3 virtual seconds at 60).
inline int64_t led_window_ms(double speed) {
    return 1500 + static_cast<int64_t>(50 * speed);
}

// The rows of events, beside the values' (a ViewValue).
constexpr int kEventRow = -1;     // a datagram the broker turns into a bus event
constexpr int kRedetectRow = -2;  // a reset of the USB-PD controllers

// A value that took a new text, or an event: ROW kEventRow (NAME "event",
// value TYPE:MSG) or kRedetectRow (NAME "redetect", value "1").
struct ViewChange {
    int64_t ms;
    int row;  // the ViewValue that changed, or an event's row (below 0)
    const char *name;
    const char *value;
};
using ChangeSink = void (*)(void *ctx, const ViewChange &change);

// One port LED, told from its writes: lit (any value but "0") or dark.
struct LedTracker {
    int level = -1;           // -1 never written, 0 dark, 1 lit
    int64_t first_ms = 0;     // the first write
    int64_t toggles[2] = {};  // the last two changes of level, [1] the latest
    int toggle_count = 0;     // how many of TOGGLES are set
};

struct BoardModel {
    int64_t now_ms = 0;                 // the time the model was brought to
    char values[kValueCount][32] = {};  // "" while not known
    // The published display state ("0".."5"), volts and amps of each port.
    char port_state[2][4] = {};
    char port_volts[2][16] = {};
    char port_amps[2][16] = {};
    int redetects = 0;
    int64_t last_redetect_ms = 0;
    static constexpr int kEvents = 3;  // the newest bus events, newest last
    struct Event {
        int64_t ms;
        char text[96];
    } events[kEvents] = {};
    int event_count = 0;
    LedTracker leds[2];
    int64_t led_window_ms = 1500;
    ChangeSink sink = nullptr;
    void *ctx = nullptr;
};

// SPEED: the board's, for the LED window.
void model_init(BoardModel *m, double speed, ChangeSink sink, void *ctx);
// One journal line, in journal order.
void model_apply(BoardModel *m, const JournalEntry &entry);
// Brings the model to time MS (nothing was journalled up to then).
void model_advance(BoardModel *m, int64_t ms);
// Fills in from the board's model files what the journal has not told yet
// (the DC input before anything read it), as of time MS.
void model_seed(BoardModel *m, const char *dir, int64_t ms);

// S into OUT, cut to fit.
template <size_t N>
void copy_text(char (&out)[N], const char *s) {
    size_t n = strnlen(s, N - 1);
    memcpy(out, s, n);
    out[n] = '\0';
}

}  // namespace boardsim_tool
