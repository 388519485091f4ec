// The boardsim tool: defaults of a new board, input encoding, bad arguments,
// and the environment `boardsim run` gives a program.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;

TEST(Tool, NewBoardDefaultsAndCcVoltsAsRoundedCounts) {
    Board board;
    EXPECT_EQ(board.get("dc"), "1");
    EXPECT_EQ(board.get("led/usbc1"), std::nullopt);
    EXPECT_EQ(board.get("gpio25/direction"), std::nullopt);  // not exported

    board.cc(1, 2.2, 3.3);
    board.cc(2, 0.5, 1.65);
    EXPECT_EQ(board.get("adc/93"), "2731");  // 2.2 * 4096 / 3.3 = 2730.67
    EXPECT_EQ(board.get("adc/94"), "4095");  // full scale is clamped to 12 bits
    EXPECT_EQ(board.get("adc/90"), "621");
    // The tool notes each input change in the journal.
    auto input = board.journal_find("input", "cc");
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].data(), "1 2.2 3.3");

    // A bank raises both CC lines of its port to 2.5 V (high), none lowers
    // them, --cc-unchanged leaves them alone.
    board.bank(1, 20.0, 3.0);
    EXPECT_EQ(board.get("adc/94"), "3103");
    ASSERT_EQ(board.tool({"bank", "2", "none", "--cc-unchanged"}).status, 0);
    EXPECT_EQ(board.get("adc/90"), "621");
    board.bank_none(1);
    EXPECT_EQ(board.get("adc/93"), "0");
}

TEST(Tool, BadArgumentsGiveUsageAndStatus2) {
    Board board;
    // 60 V is beyond the 10-bit voltage field, capability 8 beyond the list.
    for (const char *line :
         {"", "dc", "dc 2", "bank 3 none", "bank 1 20", "bank 1 60 3", "bank 1 5 3 8", "cc 1 x 0",
          "adc zz 1", "oc -1", "fault broken usbc1", "fault silent 80", "frobnicate"}) {
        std::istringstream words(line);
        const scenario::RunResult r = board.tool({std::istream_iterator<std::string>(words), {}});
        EXPECT_EQ(r.status, 2) << line;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << line;
    }
    EXPECT_EQ(board.run_process({BOARDSIM_TOOL_PATH, "run", board.dir(), "--"}).status, 2);
    EXPECT_EQ(board.run_process({BOARDSIM_TOOL_PATH, "/nonexistent", "dc", "1"}).status, 2);
}

TEST(Tool, RunGivesTheProgramTheBoardAndItsStore) {
    if (Board::emulated()) {
        GTEST_SKIP() << "needs the host's shell on the board";
    }
    Board board;
    // `boardsim run` with ENV set, as the harness's environment would hold it.
    const auto run = [&](const char *env, const std::vector<std::string> &argv) {
        std::vector<std::string> full = {"/usr/bin/env", env,         BOARDSIM_TOOL_PATH,
                                         "run",          board.dir(), "--"};
        full.insert(full.end(), argv.begin(), argv.end());
        return board.run_process(full);
    };
    // Sanitizer options already set are kept, the link-order check is added.
    scenario::RunResult r = run("ASAN_OPTIONS=detect_leaks=0",
                                {"/bin/sh", "-c",
                                 "echo \"$BOARDSIM_DIR|$DEVMGR_CONFIG_DIR|$ASAN_OPTIONS\"; "
                                 "case \"$LD_PRELOAD\" in *boardsim*) echo preloaded;; esac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, board.dir() + "|" + board.dir() +
                         "/config|detect_leaks=0:verify_asan_link_order=0\npreloaded\n");
    // Under an emulator the library is handed to the emulated program only.
    r = run("BOARDSIM_EMULATOR=/bin/echo qemu-mipsel -L /sysroot", {"/bin/true"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("qemu-mipsel -L /sysroot -E LD_PRELOAD=") + BOARDSIM_PRELOAD_PATH +
                         " /bin/true\n");
}

}  // namespace
