// The LED table and the LED thread's tick, in-process. The LED class files do
// not exist on the build host, so nothing here writes to hardware.
#include <gtest/gtest.h>

#include <set>

#include "led/led_task.h"
#include "led_fixture.h"

namespace {

TEST(LedTable, InitAndCloseGiveEveryEntryItsIdAndOff) {
    set_led_entry(0, {9, 1, 1, 77});
    set_led_entry(1, {9, 0, 1, 33});
    powerbank_init_led_state();
    EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 2, 0, 0}));
    EXPECT_EQ(led_entry_view(1), (LedEntryView{2, 2, 0, 0}));

    // Closing keeps the ids and turns both entries off again.
    set_led_entry(0, {1, 1, 1, 120});
    set_led_entry(1, {2, 0, 1, 45});
    powerbank_close_all_led();
    EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 2, 0, 0}));
    EXPECT_EQ(led_entry_view(1), (LedEntryView{2, 2, 0, 0}));
}

TEST(LedTick, RunsUpTo254ThenWrapsTo5KeepingItsPhase) {
    powerbank_init_led_state();
    // Entry 0 steady and off, entry 1 blinking: the tick runs the same way.
    led_table[1].led_mode.store(1);
    led_table[1].led_value.store(1);

    std::set<uint16_t> seen;
    uint16_t previous = 0;
    for (int i = 0; i < 1000; i++) {
        powerbank_led_process();
        const uint16_t tick = led_table[0].led_tick.load();
        ASSERT_EQ(tick, led_table[1].led_tick.load());
        ASSERT_GE(tick, 1) << "after " << previous;
        ASSERT_LE(tick, 254) << "after " << previous;
        if (previous == 254) {
            ASSERT_EQ(tick, 5);
        } else {
            ASSERT_EQ(tick, previous + 1);
        }
        seen.insert(tick);
        previous = tick;
    }
    EXPECT_EQ(seen.size(), 254u);  // 1..254 each seen
}

}  // namespace
