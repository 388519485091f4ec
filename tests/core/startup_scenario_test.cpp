// Start-up of the real daemon on the simulated board: the refusal of any
// argument, the start line, the one-second pass and the default delay
// between the outputs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;

TEST(Startup, AnyArgumentIsRefusedAfterTheFirstThreeSteps) {
    Board b;
    b.start_daemon(20, {"restart"});
    ASSERT_TRUE(b.wait_until([&] { return !b.daemon_running(); }, 10000))
        << "the daemon must exit by itself";
    EXPECT_EQ(b.stop_daemon(), 255);
    EXPECT_EQ(b.daemon_stdout(), "useage:powerbank.sh restart\n");

    // GPIOs exported and thresholds programmed, with nothing configured
    // their default bytes, before the refusal.
    auto exports = b.journal_find("gpio", "export", "write");
    ASSERT_EQ(exports.size(), 2u);
    EXPECT_EQ(exports[0].data(), "25");
    EXPECT_EQ(exports[1].data(), "19");
    std::vector<std::string> thresholds;
    for (const auto &l : b.journal_find("mcu", "ms51_reg", "write")) {
        thresholds.push_back(l.data());
    }
    EXPECT_EQ(thresholds, (std::vector<std::string>{"w b2 5 \n", "w b3 dc \n", "w b4 5 \n",
                                                    "w b5 dc \n", "w b0 9 \n", "w b1 60 \n",
                                                    "w b8 3 \n", "w b7 f \n", "w b6 a0 \n"}));
    // Nothing of the control loop ran.
    EXPECT_TRUE(b.journal_find("gpio", "gpio25/value").empty());
}

TEST(Startup, NormalStartRunsOnePassASecond) {
    Board b;
    // A low speed keeps each pass's own work small in virtual time, so a
    // loaded machine does not stretch the gaps.
    b.start_daemon(5);
    // The first pass sees DC (present on a fresh board) change from unknown.
    ASSERT_TRUE(b.wait_for_status("dc_input_stat", "up", 20000));
    ASSERT_TRUE(
        b.wait_until([&] { return b.journal_find("gpio", "gpio25/value").size() >= 10; }, 60000));

    // One DC sample a second; a pass that re-detects (the first one, and the
    // first CC evaluation after DC appeared) stretches its gap by seconds, and
    // a loaded machine any gap: only the shortest shows the pass itself.
    auto samples = b.journal_find("gpio", "gpio25/value", "read");
    std::vector<long long> gaps;
    for (size_t i = 0; i + 1 < samples.size(); i++) {
        gaps.push_back(samples[i + 1].ms - samples[i].ms);
    }
    std::sort(gaps.begin(), gaps.end());
    EXPECT_GE(gaps.front(), 950);
    EXPECT_LT(gaps.front(), 1500);
    // With no delay configured the outputs are switched a second apart.
    const auto poe1 = b.journal_find("mcu", "ms51_pse1_ctrl", "write");
    const auto poe2 = b.journal_find("mcu", "ms51_pse2_ctrl", "write");
    const auto ups = b.journal_find("mcu", "ms51_ups_ctrl", "write");
    ASSERT_FALSE(poe1.empty() || poe2.empty() || ups.empty());
    EXPECT_GE(poe2[0].ms - poe1[0].ms, 995);
    EXPECT_GE(ups[0].ms - poe2[0].ms, 995);
    EXPECT_LT(std::min(poe2[0].ms - poe1[0].ms, ups[0].ms - poe2[0].ms), 1700);
}

// Started under an init script whose log reader has gone: both output
// streams are a pipe nobody reads any more. The daemon runs on and does its
// work (its trace line before each announcement meets the broken pipe).
TEST(Startup, OutputStreamsWithoutAReaderDoNotStopIt) {
    Board b;
    const std::string fifo = b.path("logs/unread");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader while the daemon opens the write end; gone once it runs.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    b.start_daemon(20, {}, fifo);
    ASSERT_TRUE(b.wait_for_journal("", 20000).has_value());
    close(reader);
    const auto announced = [&] {
        for (const auto &line : b.journal_find("sock", "powerbankserver", "send")) {
            if (line.data().find("batterychange") != std::string::npos) {
                return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(b.wait_until(announced, 30000));
    EXPECT_TRUE(b.daemon_running()) << "the daemon is gone";
}

}  // namespace
