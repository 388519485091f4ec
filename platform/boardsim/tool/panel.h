// The board at a glance: a few lines made from the replayed model (and, for
// the inputs, the board's model files). `show` prints them once, `watch`
// redraws them in place on a terminal. Values are told in the words of the
// logfmt lines (`blink/1.0s`, `redetect`); the over-current states add theirs
// to the number (`PoE 1: idle (1)`).
#pragma once

#include "board_files.h"
#include "board_model.h"

namespace boardsim_tool {

struct Panel {
    static constexpr int kLines = 16;
    static constexpr int kWidth = 200;
    char lines[kLines][kWidth];
    int count;
};

// The panel in at most MAX_LINES lines: on a small terminal the lines that
// matter least go first (older events, the board's model files, the last
// input). NOTE, when not empty, gives the last lines, one per line of it (a
// caller's hints).
void panel_render(const BoardModel &m, const char *dir, const boardsim::Clock &clock, int max_lines,
                  const char *note, Panel *out);

// Sets M up and replays DIR's journal into it. False when DIR has no clock.
bool replay_board(const char *dir, BoardModel *m, boardsim::Clock *clock);

}  // namespace boardsim_tool
