// What a person watching the board wants to know, built by replaying the
// journal: DC, the bank each port detected, the port LEDs, the outputs, the
// over-current states, re-detections and bus events.
//
// Every change is reported with the virtual time at which it happened on the
// board, and the model decides from the journal alone: it moves on only with
// the stamps of the lines it is given (the journal is in stamp order), never
// with a clock. So a model that follows a growing journal tells the same
// changes, at the same times, as one that replays it afterwards.
//
// LED states are told from the writes (a blinking LED is written lit and dark
// in turn), so they are settled a window after the fact and reported with the
// time of the write that began them: a change the model reports once it has
// been brought to time T never lies before T - kLedWindowMs.
//
// The daemon is the process named "powerbank" (the `proc` lines of the
// journal): while none runs, the values it keeps are not known, and they are
// told anew once one starts.
#pragma once

#include <stdint.h>

#include "changes.h"
#include "journal_reader.h"

namespace boardsim_tool {

// The rows, change records and names the device's own view shares.
using namespace pbview;

// An LED that changed level four times within the window blinks (two of the
// daemon's periods of one second, its first change perhaps late from a
// steady level); a level held for the whole window is steady or off.
constexpr int64_t kLedWindowMs = 3000;

// One port LED, told from its writes: lit (any value but "0") or dark.
struct LedTracker {
    int level = -1;           // -1 never written, 0 dark, 1 lit
    int64_t first_ms = 0;     // the first write
    int64_t toggles[4] = {};  // the last four changes of level, [3] the latest
    int toggle_count = 0;     // how many of TOGGLES are set
};

struct BoardModel {
    int64_t now_ms = 0;                 // the stamp of the last line applied
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
    static constexpr int kDaemons = 4;  // daemons running at once, by pid
    long daemons[kDaemons] = {};
    int daemon_count = 0;
    static constexpr int kInputs = 3;  // the newest inputs, newest last
    Event inputs[kInputs] = {};
    int input_count = 0;
    ChangeSink sink = nullptr;
    void *ctx = nullptr;
};

void model_init(BoardModel *m, ChangeSink sink, void *ctx);
// One journal line, in journal order.
void model_apply(BoardModel *m, const JournalEntry &entry);

}  // namespace boardsim_tool
