// The LED table, the LED thread's tick and the per-pass LED step: what the
// step leaves in the table for each DC state and each port's attachment and
// type, and the debug line it writes for each. The LED class files do not
// exist on the build host, so nothing here writes to hardware.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "led/led_task.h"
#include "led_fixture.h"

namespace {

class LedStep : public ::testing::Test {
protected:
    void SetUp() override {
        powerbank_init_led_state();
        powerbank_debug = 1;
    }
    void TearDown() override { powerbank_debug = 0; }

    // Runs the step and returns what it wrote to standard error.
    std::string step(powerbank_state s) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(powerbank_set_powerbank_led(&s), 0);
        return ::testing::internal::GetCapturedStderr();
    }
};

std::string line(const char *text) {
    return std::string("POWERBANK_DEBUG >>> powerbank->powerbank_set_powerbank_led()->line.") +
           "N : " + text + "\n\n";
}

// The line numbers are the source's own; compare everything else.
std::string without_line_numbers(std::string s) {
    const std::string mark = "->line.";
    for (size_t at = s.find(mark); at != std::string::npos; at = s.find(mark, at)) {
        at += mark.size();
        size_t end = s.find_first_not_of("0123456789", at);
        s.replace(at, end - at, "N");
    }
    return s;
}

TEST_F(LedStep, FillsBothEntriesByDcStateAttachmentAndType) {
    struct Case {
        int dc, connect1, type1, connect2, type2;
        uint16_t value1, mode1, value2, mode2;
        const char *log1, *log2;
    } cases[] = {
        // DC present: attached banks steady "1" whatever their type.
        {1, 1, 1, 0, 0, 0, 0, 2, 0, " powerbank1 charging", " powerbank2 off"},
        {1, 0, 0, 1, 2, 2, 0, 0, 0, " powerbank1 off", " powerbank2 charging"},
        {1, -1, 0, -1, 0, 2, 0, 2, 0, " powerbank1 off", " powerbank2 off"},
        // DC absent: blinking, "255" for 60 W and more, "1" below.
        {0, 1, 1, 1, 2, 1, 1, 0, 1, " powerbank1 65W discharge", " powerbank2 no 65W discharge"},
        {0, 1, 2, 1, 1, 0, 1, 1, 1, " powerbank1 no 65W discharge", " powerbank2 65W discharge"},
        {0, 1, 0, 0, 0, 0, 1, 2, 0, " powerbank1 no 65W discharge", " powerbank2 off"},
        // DC unknown takes the DC-absent branch.
        {-1, 0, 0, 1, 1, 2, 0, 1, 1, " powerbank1 off", " powerbank2 65W discharge"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "dc " << c.dc << " port1 " << c.connect1 << "/"
                                        << c.type1 << " port2 " << c.connect2 << "/" << c.type2);
        powerbank_init_led_state();
        std::string log = step(make_state(c.dc, c.connect1, c.type1, c.connect2, c.type2));
        LedEntryView e0 = led_entry_view(0), e1 = led_entry_view(1);
        EXPECT_EQ(e0.id, 1);
        EXPECT_EQ(e1.id, 2);
        EXPECT_EQ(e0.value, c.value1);
        EXPECT_EQ(e0.mode, c.mode1);
        EXPECT_EQ(e1.value, c.value2);
        EXPECT_EQ(e1.mode, c.mode2);
        EXPECT_EQ(without_line_numbers(log), line(c.log1) + line(c.log2));
    }
}

TEST_F(LedStep, SteadyAndOffRestartTheTickBlinkingKeepsItAndFollowsPort2) {
    struct {
        const char *what;
        LedEntryView before0, before1;
        powerbank_state state;
        LedEntryView after0, after1;
    } cases[] = {
        {"charging and off restart at 0, so the steady write comes again",
         {1, 0, 0, 37},
         {2, 2, 0, 91},
         make_state(1, 1, 1, 0, 0),
         {1, 0, 0, 0},
         {2, 2, 0, 0}},
        {"a lone blinking entry keeps its phase",
         {1, 1, 1, 37},
         {2, 2, 0, 0},
         make_state(0, 1, 1, 0, 0),
         {1, 1, 1, 37},
         {2, 2, 0, 0}},
        {"also when its power changes",
         {1, 1, 1, 38},
         {2, 2, 0, 0},
         make_state(0, 1, 2, 0, 0),
         {1, 0, 1, 38},
         {2, 2, 0, 0}},
        {"leaving blinking for off restarts the tick",
         {1, 0, 1, 38},
         {2, 2, 0, 0},
         make_state(0, 0, 0, 0, 0),
         {1, 2, 0, 0},
         {2, 2, 0, 0}},
        {"two blinking entries take port 2's phase",
         {1, 1, 1, 12},
         {2, 0, 1, 47},
         make_state(0, 1, 1, 1, 2),
         {1, 1, 1, 47},
         {2, 0, 1, 47}},
        {"an off port 1 does not",
         {1, 1, 1, 47},
         {2, 0, 1, 47},
         make_state(0, 0, 0, 1, 2),
         {1, 2, 0, 0},
         {2, 0, 1, 47}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        set_led_entry(0, c.before0);
        set_led_entry(1, c.before1);
        step(c.state);
        EXPECT_EQ(led_entry_view(0), c.after0);
        EXPECT_EQ(led_entry_view(1), c.after1);
    }
}

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
