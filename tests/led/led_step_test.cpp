// The LED table, the LED thread's tick and the per-pass LED step: what the
// step leaves in the table for each DC state and each port's attachment and
// type. The LED class files do not exist on the build host, so nothing here
// writes to hardware.
#include <gtest/gtest.h>

#include <set>

#include "led/led_step.h"
#include "led/led_thread.h"
#include "led_fixture.h"

namespace {

TEST(LedStep, FillsBothEntriesByDcStateAttachmentAndType) {
    struct Case {
        int dc, connect1, type1, connect2, type2;
        uint16_t value1, mode1, value2, mode2;
    } cases[] = {
        // DC present: attached banks steady "1" whatever their type.
        {1, 1, 1, 0, 0, 0, 0, 2, 0},
        {1, 0, 0, 1, 2, 2, 0, 0, 0},
        {1, -1, 0, -1, 0, 2, 0, 2, 0},
        // DC absent: blinking, "255" for 60 W and more, "1" below.
        {0, 1, 1, 1, 2, 1, 1, 0, 1},
        {0, 1, 2, 1, 1, 0, 1, 1, 1},
        // DC unknown takes the DC-absent branch.
        {-1, 0, 0, 1, 1, 2, 0, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "dc " << c.dc << " port1 " << c.connect1 << "/"
                                        << c.type1 << " port2 " << c.connect2 << "/" << c.type2);
        powerbank_init_led_state();
        powerbank_state s = make_state(c.dc, c.connect1, c.type1, c.connect2, c.type2);
        EXPECT_EQ(powerbank_set_powerbank_led(&s), 0);
        EXPECT_EQ(led_entry_view(0), (LedEntryView{1, c.value1, c.mode1, 0}));
        EXPECT_EQ(led_entry_view(1), (LedEntryView{2, c.value2, c.mode2, 0}));
    }
}

TEST(LedStep, SteadyAndOffRestartTheTickBlinkingKeepsItAndFollowsPort2) {
    struct {
        const char *what;
        LedEntryView before0, before1;
        powerbank_state state;
        LedEntryView after0, after1;
    } cases[] = {
        {"steady and off restart at 0, so the steady write comes again",
         {1, 0, 0, 37},
         {2, 2, 0, 91},
         make_state(1, 1, 1, 0, 0),
         {1, 0, 0, 0},
         {2, 2, 0, 0}},
        {"a lone blinking entry keeps its phase, also when its power changes",
         {1, 1, 1, 38},
         {2, 2, 0, 0},
         make_state(0, 1, 2, 0, 0),
         {1, 0, 1, 38},
         {2, 2, 0, 0}},
        {"two blinking entries take port 2's phase",
         {1, 1, 1, 12},
         {2, 0, 1, 47},
         make_state(0, 1, 1, 1, 2),
         {1, 1, 1, 47},
         {2, 0, 1, 47}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        set_led_entry(0, c.before0);
        set_led_entry(1, c.before1);
        powerbank_state s = c.state;
        powerbank_set_powerbank_led(&s);
        EXPECT_EQ(led_entry_view(0), c.after0);
        EXPECT_EQ(led_entry_view(1), c.after1);
    }
}

TEST(LedTable, InitAndCloseGiveEveryEntryItsIdAndOff) {
    for (auto reset : {powerbank_init_led_state, powerbank_close_all_led}) {
        set_led_entry(0, {1, 1, 1, 77});
        set_led_entry(1, {2, 0, 1, 33});
        reset();
        EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 2, 0, 0}));
        EXPECT_EQ(led_entry_view(1), (LedEntryView{2, 2, 0, 0}));
    }
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
        ASSERT_EQ(tick, previous == 254 ? 5 : previous + 1) << "after " << previous;
        seen.insert(tick);
        previous = tick;
    }
    EXPECT_EQ(seen.size(), 254u);  // 1..254 each seen
}

}  // namespace
