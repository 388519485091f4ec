// The board's changes as logfmt lines, one line per moment of change:
//   t=812.344 dc=down
//   t=815.902 poe1=off
// Changes within kGroupMs of the first of a line share it; a value that did
// not change since it was last printed is left out, and so is a line left
// without words.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "board_model.h"

namespace boardsim_tool {

constexpr int64_t kGroupMs = 100;

struct LineView {
    struct Pending {
        int64_t ms;
        int row;  // a ViewValue, or below 0 for an event
        char name[12];
        char value[200];
    };
    static constexpr int kPending = 256;
    FILE *out = nullptr;
    bool quiet = false;  // keep track of what would be printed, print nothing
    Pending pending[kPending];
    int count = 0;
    char printed[kValueCount][32] = {};
};

void lines_init(LineView *view, FILE *out);
// A ChangeSink: CTX is the LineView. Changes may come out of time order
// (see board_model.h); they are printed in time order.
void lines_add(void *ctx, const ViewChange &change);
// Prints the changes at or before UPTO_MS (INT64_MAX: all of them).
void lines_flush(LineView *view, int64_t upto_ms);
// One line with every value printed so far, as of MS.
void lines_state(LineView *view, int64_t ms);

}  // namespace boardsim_tool
