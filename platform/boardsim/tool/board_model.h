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

#include "changes.h"
#include "journal_reader.h"

namespace boardsim_tool {

// The rows, change records and names the device's own view shares.
using namespace pbview;

// The window in which an LED that changed level twice blinks, and that a
// level must be held to be steady or off: a blink period and a half, plus
// room for an LED thread that runs late on a busy host, which a fast board
// stretches by its speed (50 real milliseconds are 3 virtual seconds at 60).
inline int64_t led_window_ms(double speed) {
    return 1500 + static_cast<int64_t>(50 * speed);
}

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

}  // namespace boardsim_tool
