// The changes as logfmt lines, one line per moment of change:
//   t=812.344 dc=down                        (a board: virtual seconds)
//   t=2026-12-06T04:45:06.123Z dc=down       (the device: wall-clock time, UTC)
// Writing: changes within kGroupMs of the first of a line share it; a value
// that did not change since it was last printed is left out, and so is a
// line left without words. Events (`event`, `redetect`, `input`) are printed
// each time they happen, repeats included; after `daemon=down` every value
// is printed again once it is told. Reading: a line back into its changes.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "changes.h"

namespace pbview {

constexpr int64_t kGroupMs = 100;

enum class TimeFormat {
    kSeconds,    // "812.344": seconds since the board was made
    kWallClock,  // "2026-12-06T04:45:06.123Z": RFC 3339, UTC, milliseconds
};

// MS as the `t=` value of FORMAT, into OUT (at least 32 bytes).
void format_time(char *out, size_t size, int64_t ms, TimeFormat format);
// A `t=` value of either format (N bytes) into milliseconds; FORMAT, when not
// null, tells which it was. False when it is neither.
bool parse_time(const char *text, size_t n, int64_t *ms, TimeFormat *format);

struct LineView {
    struct Pending {
        int64_t ms;
        int row;  // a Row, or below 0 for an event
        char name[12];
        char value[200];
    };
    static constexpr int kPending = 256;
    FILE *out = nullptr;
    TimeFormat format = TimeFormat::kSeconds;
    bool quiet = false;  // keep track of what would be printed, print nothing
    Pending pending[kPending];
    int count = 0;
    char printed[kValueCount][32] = {};
};

void lines_init(LineView *view, FILE *out, TimeFormat format);
// A ChangeSink: CTX is the LineView. Changes may come out of time order
// (a board's LED states are told late); they are printed in time order.
void lines_add(void *ctx, const Change &change);
// Prints the lines that end before UPTO_MS (INT64_MAX: all of them): a
// caller that is told every change at or after UPTO_MS later gets the same
// lines as one that is told everything first.
void lines_flush(LineView *view, int64_t upto_ms);
// One line with every value printed so far, as of MS.
void lines_state(LineView *view, int64_t ms);

// Hands each word of one logfmt line (LEN bytes, no newline) that names a row
// to SINK as a change at the line's time, its value unquoted; words of other
// names are skipped. FORMAT, when not null, tells the line's time format.
// False, with nothing handed on, when the line does not start with a `t=`
// time or a word is malformed.
bool parse_line(const char *line, size_t len, ChangeSink sink, void *ctx, TimeFormat *format);

}  // namespace pbview
