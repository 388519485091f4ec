// The boardsim tool: defaults of a new board, input encoding, bad arguments,
// and the environment `boardsim run` gives a program.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;

TEST(Tool, NewBoardDefaults) {
    Board board;
    EXPECT_EQ(board.get("dc"), "1");
    EXPECT_EQ(board.get("reg/a9"), "0");
    EXPECT_EQ(board.get("led/usbc1"), std::nullopt);
    EXPECT_EQ(board.get("gpio25/direction"), std::nullopt);  // not exported
    scenario::RunResult show = board.tool({"show"});
    EXPECT_EQ(show.status, 0);
    EXPECT_NE(show.out.find("selector 00: nothing attached"), std::string::npos) << show.out;
}

TEST(Tool, CcVoltsBecomeRoundedCountsOnThePortsChannels) {
    Board board;
    board.cc(1, 2.2, 3.3);
    board.cc(2, 0.5, 1.65);
    EXPECT_EQ(board.get("adc/93"), "2731");  // 2.2 * 4096 / 3.3 = 2730.67
    EXPECT_EQ(board.get("adc/94"), "4095");  // full scale is clamped to 12 bits
    EXPECT_EQ(board.get("adc/90"), "621");
    EXPECT_EQ(board.get("adc/97"), "2048");
    // The tool notes each input change in the journal.
    auto input = board.journal_find("input", "cc");
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].data(), "1 2.2 3.3");
}

TEST(Tool, BadArgumentsGiveUsageAndStatus2) {
    Board board;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"dc"},
        {"dc", "2"},
        {"bank", "3", "none"},
        {"bank", "1", "20"},
        {"bank", "1", "60", "3"},  // beyond the 10-bit voltage field
        {"bank", "1", "5", "3", "8"},
        {"cc", "1", "x", "0"},
        {"adc", "zz", "1"},
        {"oc", "-1"},
        {"fault", "broken", "usbc1"},
        {"fault", "silent", "80"},
        {"frobnicate"},
    };
    for (const auto &args : bad) {
        scenario::RunResult r = board.tool(args);
        std::string joined;
        for (const auto &a : args) {
            joined += a + " ";
        }
        EXPECT_EQ(r.status, 2) << joined;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << joined;
    }
    EXPECT_EQ(board
                  .run_process({
                      BOARDSIM_TOOL_PATH,
                      "run",
                      board.dir(),
                      "--",
                  })
                  .status,
              2);
    EXPECT_EQ(board.run_process({BOARDSIM_TOOL_PATH, "/nonexistent", "dc", "1"}).status, 2);
}

TEST(Tool, RunGivesTheProgramTheBoardAndItsStore) {
    if (Board::emulated()) {
        GTEST_SKIP() << "needs the host's shell on the board";
    }
    Board board;
    // Sanitizer options already set are kept, the link-order check is added.
    const char *old = getenv("ASAN_OPTIONS");
    const std::string saved = old != nullptr ? old : "";
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    scenario::RunResult r =
        board.run_on_board({"/bin/sh", "-c",
                            "echo \"$BOARDSIM_DIR|$DEVMGR_CONFIG_DIR|$ASAN_OPTIONS\"; "
                            "case \"$LD_PRELOAD\" in *boardsim*) echo preloaded;; esac"},
                           4);
    if (old != nullptr) {
        setenv("ASAN_OPTIONS", saved.c_str(), 1);
    } else {
        unsetenv("ASAN_OPTIONS");
    }
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, board.dir() + "|" + board.dir() +
                         "/config|detect_leaks=0:verify_asan_link_order=0\npreloaded\n");

    // Under an emulator the library is handed to the emulated program only.
    setenv("BOARDSIM_EMULATOR", "/bin/echo qemu-mipsel -L /sysroot", 1);
    r = board.run_on_board({"/bin/true"});
    unsetenv("BOARDSIM_EMULATOR");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("qemu-mipsel -L /sysroot -E LD_PRELOAD=") + BOARDSIM_PRELOAD_PATH +
                         " /bin/true\n");
}

}  // namespace
