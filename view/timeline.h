// The timeline: a picture of a stretch of changes, drawn like a logic
// analyser's trace, as a self-contained SVG document.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "changes.h"
#include "logfmt.h"

namespace pbview {

// One change, in time order. ROW is a Row, or kEventRow / kRedetectRow.
struct TimelineChange {
    int64_t ms;
    int row;
    char text[96];
};

// The changes gathered for a picture, kept in time order; a ChangeSink
// (timeline_add) fills it.
struct Timeline {
    TimelineChange *changes = nullptr;  // malloc'd
    int count = 0;
    int capacity = 0;
    bool out_of_memory = false;
    int64_t from_ms = 0;
    int64_t to_ms = 0;
    TimeFormat format = TimeFormat::kSeconds;  // how the axis and the titles tell time
    const char *title = "";                    // what the picture shows, e.g. "Board /tmp/b"
    // The rows drawn, as row_bit()s (kAllRows: all of them); 0 draws the rows
    // that have at least one change, so a log that never records a row (a
    // device's has no LEDs, no inputs) shows none of it.
    uint32_t rows = 0;
};

// A ChangeSink: CTX is the Timeline. A change may come late (after changes
// of later times): it is put in its place.
void timeline_add(void *ctx, const Change &change);
void timeline_free(Timeline *t);

// Writes the picture of T's changes between T.from_ms and T.to_ms.
void write_timeline_svg(const Timeline &t, FILE *out);

}  // namespace pbview
