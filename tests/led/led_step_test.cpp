// The per-pass LED step: what it leaves in the table for each DC state and
// each port's attachment and type, and the debug line it writes for each.
#include <gtest/gtest.h>

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

TEST_F(LedStep, SteadyAndOffRestartTheTickWhileBlinkingKeepsIt) {
    // Charging and off entries restart at 0 so the steady write comes again.
    set_led_entry(0, {1, 0, 0, 37});
    set_led_entry(1, {2, 2, 0, 91});
    step(make_state(1, 1, 1, 0, 0));
    EXPECT_EQ(led_table[0].led_tick.load(), 0);
    EXPECT_EQ(led_table[1].led_tick.load(), 0);

    // A lone blinking entry keeps its phase across passes.
    set_led_entry(0, {1, 1, 1, 37});
    step(make_state(0, 1, 1, 0, 0));
    EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 1, 1, 37}));
    led_table[0].led_tick.store(38);
    step(make_state(0, 1, 2, 0, 0));
    EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 0, 1, 38}));

    // Leaving blinking for off restarts the tick.
    step(make_state(0, 0, 0, 0, 0));
    EXPECT_EQ(led_entry_view(0), (LedEntryView{1, 2, 0, 0}));
}

TEST_F(LedStep, TwoBlinkingEntriesTakePort2sPhase) {
    set_led_entry(0, {1, 1, 1, 12});
    set_led_entry(1, {2, 0, 1, 47});
    step(make_state(0, 1, 1, 1, 2));
    EXPECT_EQ(led_table[0].led_tick.load(), 47);
    EXPECT_EQ(led_table[1].led_tick.load(), 47);

    // With port 1 empty, port 2's phase is not copied into the off entry.
    set_led_entry(1, {2, 0, 1, 47});
    step(make_state(0, 0, 0, 1, 2));
    EXPECT_EQ(led_table[0].led_tick.load(), 0);
    EXPECT_EQ(led_table[1].led_tick.load(), 47);
}

}  // namespace
