// The change records shared by every view of the power path: the board tool's
// (replayed from a board's journal) and the device's own (recorded from what
// the daemon publishes). A change is a row that took a new value, or an
// event, at a time in milliseconds: virtual time on a board, wall-clock time
// (since the Unix epoch) on the device.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace pbview {

// The value rows, in the order in which they are listed. While `daemon` is
// "down" the other value rows have no state: nothing is there to keep them.
// An LED's value is "off", "steady", or a blink with the period the LED
// showed, "blink/1.0s" (one lit and one dark phase in 1.0 s; plain "blink"
// while the period is not known yet): see format_blink and parse_blink.
enum Row : int {
    kDaemon,  // "up" while a daemon runs, "down" once it is gone
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

// The rows of events, beside the values'.
constexpr int kEventRow = -1;     // a datagram the broker turns into a bus event (TYPE:MSG)
constexpr int kRedetectRow = -2;  // a reset of the USB-PD controllers (value "1")
constexpr int kInputRow = -3;     // something done to a board: the verb and its words ("dc 0")
constexpr int kFirstRow = kInputRow;

// A row as one bit, for sets of rows (kAllRows: every one).
constexpr uint32_t row_bit(int row) {
    return 1u << (row - kFirstRow);
}
constexpr uint32_t kAllRows = (1u << (kValueCount - kFirstRow)) - 1;

// "daemon", "dc", "port1", ..., "oc_total", "event", "redetect", "input": the
// names of the logfmt lines; "" for anything else.
const char *row_name(int row);
// The row NAME (N bytes) stands for; false when it names none.
bool row_from_name(const char *name, size_t n, int *row);

struct Change {
    int64_t ms;
    int row;  // a Row, or an event's row (below 0)
    const char *name;
    const char *value;
};
using ChangeSink = void (*)(void *ctx, const Change &change);

// An over-current state ("0".."3") in words, "idle (1)"; the total's 2 is
// "ok (2)". VALUE itself when it is no state.
const char *oc_words(const char *value, bool total);

// A blinking LED's value, "blink/1.0s", into OUT: PERIOD_MS rounded to a
// tenth of a second; plain "blink" when PERIOD_MS is 0 (not known).
void format_blink(char *out, size_t size, int64_t period_ms);
// True when VALUE is a blink; *PERIOD_MS is then its period, 0 when the
// value does not give one.
bool parse_blink(const char *value, int64_t *period_ms);

// S into OUT, cut to fit.
template <size_t N>
void copy_text(char (&out)[N], const char *s) {
    size_t n = strnlen(s, N - 1);
    memcpy(out, s, n);
    out[n] = '\0';
}

}  // namespace pbview
