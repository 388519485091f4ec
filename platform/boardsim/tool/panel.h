// The board at a glance: a few lines made from the replayed model (and, for
// the inputs, the board's model files). `show` prints them once, `watch`
// redraws them in place on a terminal.
#pragma once

#include "board_files.h"
#include "board_model.h"

namespace boardsim_tool {

struct Panel {
    static constexpr int kLines = 13;
    static constexpr int kWidth = 200;
    char lines[kLines][kWidth];
    int count;
};

void panel_render(const BoardModel &m, const char *dir, const boardsim::Clock &clock, Panel *out);

// Sets M up and replays DIR's journal into it, brings it to the board's time
// now and fills in from the model files what the journal did not tell.
// False when DIR has no clock.
bool replay_board(const char *dir, BoardModel *m, boardsim::Clock *clock);

}  // namespace boardsim_tool
