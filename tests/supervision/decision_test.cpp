// Decisions of the output policy and the over-current step, driven through
// the state record. Off the board the MCU files are absent:
// every ADC reading is 0.0 V and the over-current register keeps the value
// the test put into the record.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "core/state.h"
#include "core/temp_store.h"
#include "power/over_current.h"
#include "power/policy.h"

namespace {

// A record as after start-up: DC and both ports unknown.
powerbank_state started_state() {
    powerbank_state s{};
    s.dc_current_state = -1;
    s.powerbank1_current_connect_state = s.powerbank2_current_connect_state = -1;
    return s;
}

// The status value of KEY, or "(absent)".
std::string status(const TempStore &store, const char *key) {
    std::ifstream in(store.status() + "/" + key);
    std::stringstream text;
    text << in.rdbuf();
    return in ? text.str() : "(absent)";
}

TEST(OutputPolicy, AutomaticModeFollowsDcAndSixtyWattBanks) {
    struct {
        int dc;
        int connect1, type1, connect2, type2;
        int expected;
        const char *why;
    } cases[] = {
        {1, 0, 0, 0, 0, 1, "DC present, no bank"},
        {0, 1, 1, 0, 0, 1, "DC absent, 60 W bank on port 1"},
        {0, 0, 0, 1, 1, 1, "DC absent, 60 W bank on port 2"},
        {0, 0, 1, 0, 0, 0, "type 1 left over on a port that reads empty"},
        {0, -1, 1, 0, 0, 0, "type 1 on a port not yet detected"},
        {0, 0, 0, 0, 0, 0, "DC absent, no bank"},
        {-1, 1, 1, 1, 1, 0, "DC unknown, even with 60 W banks"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        powerbank_state s = started_state();
        s.dc_current_state = c.dc;
        s.powerbank1_current_connect_state = c.connect1;
        s.powerbank1_type = c.type1;
        s.powerbank2_current_connect_state = c.connect2;
        s.powerbank2_type = c.type2;
        EXPECT_EQ(powerbank_set_each_poe(&s, "2", "POE_1"), c.expected);
        EXPECT_EQ(powerbank_set_each_poe(&s, "2", "POE_2"), c.expected);
        EXPECT_EQ(powerbank_set_each_ups(&s, "2"), c.expected);
    }
}

TEST(OutputPolicy, FixedModesIgnoreTheBoard) {
    for (int dc : {-1, 0, 1}) {
        powerbank_state s = started_state();
        s.dc_current_state = dc;
        EXPECT_EQ(powerbank_set_each_poe(&s, "1", "POE_1"), 1);
        EXPECT_EQ(powerbank_set_each_ups(&s, "1"), 1);
        for (const char *mode : {"", "0", "3", "22", " 2"}) {
            EXPECT_EQ(powerbank_set_each_poe(&s, mode, "POE_2"), 0) << "mode \"" << mode << "\"";
            EXPECT_EQ(powerbank_set_each_ups(&s, mode), 0) << "mode \"" << mode << "\"";
        }
    }
}

TEST(OverCurrent, ValuesFromSwitchesAndRegisterBits) {
    struct {
        int poe1, poe2, ups, bits;
        const char *expected[4];  // POE_1, POE_2, UPS, total
    } cases[] = {
        {1, 1, 1, 0x02, {"3", "1", "1", "2"}},
        {1, 1, 1, 0x04 | 0x08, {"1", "3", "3", "2"}},
        {1, 0, 0, 0x40, {"1", "0", "0", "3"}},
        // Bits of outputs that are off, and the total bit with all off.
        {0, 0, 0, 0x02 | 0x04 | 0x08 | 0x40, {"0", "0", "0", "0"}},
        // On with no load (0.0 V off the board) and only bits that mean
        // nothing: "1"; the total is never "1".
        {1, 1, 1, 0x01 | 0x10 | 0x20 | 0x80, {"1", "1", "1", "2"}},
    };
    const char *keys[4] = {
        "powerbank_poe1_power_over_current_state", "powerbank_poe2_power_over_current_state",
        "powerbank_ups_power_over_current_state", "powerbank_total_power_over_current_state"};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "switches " << c.poe1 << c.poe2 << c.ups << " bits 0x"
                                        << std::hex << c.bits);
        TempStore store;
        powerbank_state s = started_state();
        s.poe1_switch = c.poe1;
        s.poe2_switch = c.poe2;
        s.ups_switch = c.ups;
        s.over_current_state = c.bits;
        s.over_current_check_now = 1;
        powerbank_set_poe_ups_state(&s);
        for (int i = 0; i < 4; i++) {
            EXPECT_EQ(status(store, keys[i]), c.expected[i]) << keys[i];
        }
    }
}

}  // namespace
