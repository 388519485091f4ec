// The real daemon on a simulated board: the DC input as the control loop sees
// it, from the exports at start to the published state.
#include <gtest/gtest.h>

#include "scenario.h"

namespace {

TEST(DcInputScenario, PresentThenRemoved) {
    scenario::Board b;
    b.dc(true);
    b.start_daemon(50);
    ASSERT_TRUE(b.wait_for_status("dc_input_stat", "up", 10000)) << b.daemon_stderr();

    // Start-up exports the DC line, then the reset line, before anything else
    // touches a GPIO.
    std::vector<scenario::JournalLine> gpio = b.journal_find("gpio");
    ASSERT_GE(gpio.size(), 2u);
    EXPECT_EQ(gpio[0].text, "gpio export write 2 \"25\"");
    EXPECT_EQ(gpio[1].text, "gpio export write 2 \"19\"");

    b.dc(false);
    EXPECT_TRUE(b.wait_for_status("dc_input_stat", "down", 10000)) << b.daemon_stderr();
    EXPECT_TRUE(b.daemon_running());
}

}  // namespace
