// The LED thread beside the main thread's LED step, in-process. Under a
// ThreadSanitizer build this is the test that catches a table field shared
// without atomicity. The LED class files do not exist on the build host, so
// nothing is written to hardware.
#include <gtest/gtest.h>
#include <time.h>

#include "led/led_task.h"
#include "led_fixture.h"

namespace {

// Polls COND every millisecond until it holds or DEADLINE_MS (real time) runs out.
template <typename Cond>
bool wait_for(Cond cond, int deadline_ms) {
    for (int waited = 0; waited < deadline_ms; waited++) {
        if (cond()) {
            return true;
        }
        timespec ms{0, 1000000};
        nanosleep(&ms, nullptr);
    }
    return cond();
}

TEST(LedThread, StartsOnTheZeroTableAndPlaysBesideTheStep) {
    // As at start-up: the thread runs before the table has its ids.
    set_led_entry(0, {0, 0, 0, 0});
    set_led_entry(1, {0, 0, 0, 0});
    powerbank_init_led_task();
    ASSERT_TRUE(wait_for([] { return led_table[1].led_tick.load() >= 2; }, 10000));
    EXPECT_EQ(led_table[0].led_id.load(), 0);

    // Then initialise the table and run passes from this thread while the LED
    // thread ticks, switching between charging, blinking and off.
    powerbank_init_led_state();
    powerbank_close_all_led();
    const powerbank_state passes[] = {
        make_state(1, 1, 1, 0, 0),
        make_state(0, 1, 1, 1, 2),
        make_state(0, 0, 0, 1, 1),
        make_state(-1, 1, 2, 1, 1),
    };
    for (int i = 0; i < 2000; i++) {
        powerbank_state s = passes[i % 4];
        powerbank_set_powerbank_led(&s);
        if (i % 100 == 0) {
            timespec ms{0, 1000000};
            nanosleep(&ms, nullptr);
        }
    }

    // Both ports blinking: the LED thread moves both ticks on from the phase
    // the step gave them.
    powerbank_state both = make_state(0, 1, 1, 1, 2);
    powerbank_set_powerbank_led(&both);
    const uint16_t start = led_table[1].led_tick.load();
    ASSERT_TRUE(wait_for([&] { return led_table[1].led_tick.load() != start; }, 10000));
    EXPECT_EQ(led_table[0].led_id.load(), 1);
    EXPECT_EQ(led_table[1].led_id.load(), 2);
    EXPECT_EQ(led_table[0].led_mode.load(), 1);
    EXPECT_EQ(led_table[1].led_value.load(), 0);
}

}  // namespace
