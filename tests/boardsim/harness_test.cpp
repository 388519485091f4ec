// The harness drives the real daemon: start, inputs, status, bus events, stop.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

using scenario::Board;

TEST(Harness, DaemonRunsOnTheBoardAndStopsWithIt) {
    Board board;
    bool bus = board.start_bus_listener();
    board.start_daemon(50);
    ASSERT_TRUE(board.wait_for_status("dc_input_stat", "up", 20000)) << board.daemon_stderr();
    EXPECT_TRUE(board.daemon_running());
    auto exports = board.journal_find("gpio", "export");
    ASSERT_GE(exports.size(), 2u);
    EXPECT_EQ(exports[0].data(), "25");
    EXPECT_EQ(exports[1].data(), "19");

    size_t mark = board.journal().size();
    board.dc(false);
    ASSERT_TRUE(board.wait_for_status("dc_input_stat", "down", 20000));
    // The DC change is announced to the local socket (the first detection's
    // "batterychange" may come before it).
    const std::string dcchange = "type=SendStatFile\r\nmsg=dcchange\r\n";
    auto sent = board.wait_for_journal(
        "sock powerbankserver send 33 \"" + scenario::journal_escape(dcchange) + "\"", 20000, mark);
    ASSERT_TRUE(sent.has_value()) << board.journal_text();
    EXPECT_EQ(sent->data(), dcchange);
    EXPECT_EQ(sent->tag("err"), "");
    if (bus) {
        EXPECT_TRUE(board.wait_until(
            [&] { return board.bus_events().find("dcchange") != std::string::npos; }, 20000))
            << board.bus_events();
    }
    EXPECT_NE(board.daemon_stdout().find("powerbank run"), std::string::npos);

    board.stop_daemon();
    EXPECT_FALSE(board.daemon_running());
}

TEST(Harness, DaemonRefusesArgumentsAndItsExitIsSeen) {
    Board board;
    board.start_daemon(1, {"restart"});
    EXPECT_EQ(board.wait_daemon_exit(10000), 255);
    EXPECT_NE(board.daemon_stdout().find("useage:powerbank.sh restart"), std::string::npos);
}

}  // namespace
