// The LED table, the LED thread's tick and the per-pass LED step: what the
// step leaves in the table for each DC state and each port's attachment and
// type. The LED class files do not exist on the build host, so nothing here
// writes to hardware.
#include <gtest/gtest.h>
#include <stdint.h>

#include <array>

#include "core/state.h"
#include "led/led_step.h"
#include "led/led_table.h"
#include "led/led_thread.h"

namespace {

// An entry's id, value, mode and tick.
using LedEntryView = std::array<uint16_t, 4>;

LedEntryView led_entry_view(int i) {
    return {led_table[i].led_id.load(), led_table[i].led_value.load(), led_table[i].led_mode.load(),
            led_table[i].led_tick.load()};
}

// Entries as {id, value, mode, tick}: value 0 lights "1", 1 lights "255",
// 2 is off; mode 0 steady, 1 blinking.
TEST(LedStep, FillsBothEntriesByDcStateAttachmentAndTypeAndKeepsThePhase) {
    struct {
        int dc, connect1, type1, connect2, type2;
        uint16_t tick1, tick2;  // before the step, from a fresh table
        LedEntryView after1, after2;
    } cases[] = {
        // DC present: attached banks steady "1" whatever their type. Steady
        // and off restart the tick, so the steady write comes again.
        {1, 1, 1, 0, 0, 37, 91, {1, 0, 0, 0}, {2, 2, 0, 0}},
        {1, 0, 0, 1, 2, 0, 0, {1, 2, 0, 0}, {2, 0, 0, 0}},
        {1, -1, 0, -1, 0, 0, 0, {1, 2, 0, 0}, {2, 2, 0, 0}},
        // DC absent: blinking, "255" for 60 W and more, "1" below; a lone
        // blinking entry keeps its phase, two take port 2's.
        {0, 1, 2, 0, 0, 38, 0, {1, 0, 1, 38}, {2, 2, 0, 0}},
        {0, 1, 1, 1, 2, 12, 47, {1, 1, 1, 47}, {2, 0, 1, 47}},
        {0, 1, 2, 1, 1, 0, 0, {1, 0, 1, 0}, {2, 1, 1, 0}},
        // DC unknown takes the DC-absent branch.
        {-1, 0, 0, 1, 1, 0, 0, {1, 2, 0, 0}, {2, 1, 1, 0}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        powerbank_init_led_state();
        led_table[0].led_tick.store(c.tick1);
        led_table[1].led_tick.store(c.tick2);
        powerbank_state s{};
        s.dc_current_state = c.dc;
        s.powerbank1_current_connect_state = c.connect1;
        s.powerbank1_type = c.type1;
        s.powerbank2_current_connect_state = c.connect2;
        s.powerbank2_type = c.type2;
        EXPECT_EQ(powerbank_set_powerbank_led(&s), 0);
        EXPECT_EQ(led_entry_view(0), c.after1);
        EXPECT_EQ(led_entry_view(1), c.after2);
    }
}

TEST(LedTick, RunsUpTo254ThenWrapsTo5KeepingItsPhase) {
    powerbank_init_led_state();
    // Entry 0 steady and off, entry 1 blinking: the tick runs the same way.
    led_table[1].led_mode.store(1);
    led_table[1].led_value.store(1);

    // From 0 every tick is one more, so 1 to 254 each come once a round.
    uint16_t previous = 0;
    for (int i = 0; i < 1000; i++) {
        powerbank_led_process();
        const uint16_t tick = led_table[0].led_tick.load();
        ASSERT_EQ(tick, led_table[1].led_tick.load());
        ASSERT_EQ(tick, previous == 254 ? 5 : previous + 1) << "after " << previous;
        previous = tick;
    }
}

}  // namespace
