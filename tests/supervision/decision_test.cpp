// Decoding of a bank's source capability (voltage in bits 19..10 of its
// little-endian bytes b0 b1 b2 in 50 mV, maximum current in bits 9..0 in
// 10 mA), and the decisions of the output policy, the CC watch and the
// over-current step, driven through the state record. Off the board the MCU files are absent:
// every ADC reading is 0.0 V and the over-current register keeps the value
// the test put into the record.
#include <devmgr.h>
#include <gtest/gtest.h>

#include "bank/cc_watch.h"
#include "bank/rt1719.h"
#include "base/log.h"
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

TEST(PdoDecoding, VoltageAndCurrentFromTheLowThreeBytes) {
    struct {
        uint8_t b0, b1, b2;
        double volts, amps;
    } cases[] = {
        // Every field bit set: 1023 x 50 mV and 1023 x 10 mA; the supply-type
        // bits above bit 19 (b2's high nibble) never leak into the voltage.
        {0xFF, 0xFF, 0xFF, 51.15, 10.23},
        {0xFF, 0x03, 0xF0, 0.00, 10.23},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        EXPECT_DOUBLE_EQ(rt1719_pdo_voltage(c.b0, c.b1, c.b2), c.volts);
        EXPECT_DOUBLE_EQ(rt1719_pdo_current(c.b0, c.b1), c.amps);
    }
}

TEST(OutputPolicy, ModesAgainstDcAndSixtyWattBanks) {
    struct {
        const char *mode;
        int dc;
        int connect1, type1, connect2, type2;
        int expected;
        const char *why;
    } cases[] = {
        {"2", 0, 0, 0, 1, 1, 1, "DC absent, 60 W bank on port 2"},
        {"2", 0, 1, 2, 1, 2, 0, "DC absent, banks under 60 W"},
        {"2", -1, 1, 1, 1, 1, 0, "DC unknown, even with 60 W banks"},
        {"", 1, 1, 1, 1, 1, 0, "the empty mode is always off"},
        {" 2", 1, 1, 1, 1, 1, 0, "and one that only looks automatic"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        powerbank_state s = started_state();
        s.dc_current_state = c.dc;
        s.powerbank1_current_connect_state = c.connect1;
        s.powerbank1_type = c.type1;
        s.powerbank2_current_connect_state = c.connect2;
        s.powerbank2_type = c.type2;
        EXPECT_EQ(powerbank_set_each_poe(&s, c.mode, "POE_1"), c.expected);
        EXPECT_EQ(powerbank_set_each_poe(&s, c.mode, "POE_2"), c.expected);
        EXPECT_EQ(powerbank_set_each_ups(&s, c.mode), c.expected);
    }
}

// Off the board every reading is 0.0 V: a high first reading of port 1 CC1
// put into the record beforehand makes its three readings disagree.
TEST(CcWatch, DisagreeingReadingsMarkAndTheThirtyFirstCallRedetects) {
    powerbank_state s = started_state();
    s.dc_current_state = s.dc_last_state = 1;
    s.powerbank1_cc1_samples[0] = 3.0f;
    s.cc_sample_index = 1;
    powerbank_debug = 1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(cc_state_is_change(&s), 0);
    // The evaluation sets the mark and already counts; agreeing readings
    // since never clear it, and the 31st call counted re-detects.
    for (int count = 1; count <= 31; count++) {
        EXPECT_EQ(cc_state_is_change(&s), count == 31 ? 1 : 0) << "count " << count;
        EXPECT_EQ(s.powerbank_electric_quantity_equal_0, count == 31 ? 0 : 1) << "count " << count;
    }
    EXPECT_EQ(s.powerbank1_cc1_electric_level, 0);
    const std::string err = testing::internal::GetCapturedStderr();
    powerbank_debug = 0;
    const std::string head = "POWERBANK_DEBUG >>> common_interfance->";
    const std::string zeros =
        "electric_level=0  powerbank1_cc2_electric_level=0  "
        "powerbank2_cc1_electric_level=0  powerbank2_cc2_electric_level=0";
    for (const std::string &line :
         {head + "cc_state_is_change()->line.537 : powerbank1_cc1_" + zeros + "\t\n\n",
          head + "is_electric_quantity_equal_0()->line.427 : ##############pbstate->"
                 "powerbank_run_time_in_electric_quantity_equal_0 = 31\n\n"}) {
        EXPECT_NE(err.find(line), std::string::npos) << line;
    }
    EXPECT_NE(err.find(" : 93=0   adc_value_tmp=0.00\n\n"), std::string::npos);
}

TEST(OverCurrent, ValuesFromSwitchesAndRegisterBits) {
    struct {
        int poe1, poe2, ups, bits;
        const char *expected[4];  // POE_1, POE_2, UPS, total
    } cases[] = {
        {1, 1, 1, 0x02 | 0x08, {"3", "1", "3", "2"}},
        {1, 0, 0, 0x04 | 0x40, {"1", "0", "0", "3"}},
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
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        TempStore store;
        powerbank_state s = started_state();
        s.poe1_switch = c.poe1;
        s.poe2_switch = c.poe2;
        s.ups_switch = c.ups;
        s.over_current_state = c.bits;
        s.over_current_check_now = 1;
        powerbank_set_poe_ups_state(&s);
        for (int i = 0; i < 4; i++) {
            char value[8] = {};
            EXPECT_EQ(devmgr_status_get(keys[i], value, sizeof value), DEVMGR_OK) << keys[i];
            EXPECT_STREQ(value, c.expected[i]) << keys[i];
        }
    }
}

}  // namespace
