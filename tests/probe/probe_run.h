// Running the shared board probe from a test, and tables of probe runs on
// fresh boards checked against their output and their effects on the board.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/scenario.h"

namespace probe {

using Args = std::vector<std::string>;

// Runs board_probe ARGS... on B; SPEED as run_on_board takes it.
inline scenario::RunResult run(const scenario::Board &b, Args args, double speed = 50) {
    args.insert(args.begin(), BOARD_PROBE);
    return b.run_on_board(args, speed);
}

// The journal texts from line FROM on, without the probe's own start and end
// (its end may come a moment after it exited).
inline std::vector<std::string> effects(const scenario::Board &b, size_t from) {
    std::vector<std::string> out;
    const std::vector<scenario::JournalLine> lines = b.journal();
    for (size_t i = from; i < lines.size(); ++i) {
        if (lines[i].kind != "proc") {
            out.push_back(lines[i].text);
        }
    }
    return out;
}

struct Case {
    const char *what;
    std::vector<Args> setup;      // boardsim verbs; {"probe", ...} runs the probe
    Args call;                    // the probe's arguments
    std::string out;              // exact standard output
    std::vector<std::string> io;  // the call's effects on the board, in order
    std::string err = "";         // held by standard error; "" when it must be empty
};

inline void run_cases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        scenario::Board b;
        for (const Args &s : c.setup) {
            if (s[0] == "probe") {
                ASSERT_EQ(run(b, Args(s.begin() + 1, s.end())).status, 0);
            } else {
                ASSERT_EQ(b.tool(s).status, 0) << s[0];
            }
        }
        const size_t before = b.journal().size();
        const scenario::RunResult r = run(b, c.call);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, c.out);
        if (c.err.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        }
        EXPECT_EQ(effects(b, before), c.io);
    }
}

}  // namespace probe
