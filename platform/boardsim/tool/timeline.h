// timeline: a picture of a run, drawn from its journal like a logic
// analyser's trace.
#pragma once

#include <stdint.h>
#include <stdio.h>

namespace boardsim_tool {

// One change of the run, in time order. VALUE is a ViewValue, or kEventRow /
// kRedetectRow for events (board_model.h).
struct TimelineChange {
    int64_t ms;
    int value;
    char text[96];
};

struct Timeline {
    TimelineChange *changes = nullptr;  // malloc'd
    int count = 0;
    int64_t from_ms = 0;
    int64_t to_ms = 0;
    const char *dir = "";
};

// Writes the picture of T's changes between T.from_ms and T.to_ms as a
// self-contained SVG document.
void write_timeline_svg(const Timeline &t, FILE *out);

}  // namespace boardsim_tool
