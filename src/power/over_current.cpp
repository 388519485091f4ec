#include "power/over_current.h"

#include "base/log.h"
#include "core/state.h"
#include "hw/mcu.h"
#include "store/store.h"

namespace {

// Without a policy pass in between, one measurement every this many calls.
constexpr int kCheckEvery = 5;

// Bits of the MCU's over-current register 0xa9; all others are ignored.
constexpr int kPoe1Bit = 0x02;
constexpr int kPoe2Bit = 0x04;
constexpr int kUpsBit = 0x08;
constexpr int kTotalBit = 0x40;

// An output that is on but reads below this many volts draws no load.
constexpr double kLoadVolts = 0.05;

// "0" off, "3" on with its over-current bit set, else "2" with a load and
// "1" without.
const char *output_state(int switched_on, int bit, int over_current, float volts) {
    if (switched_on != 1) {
        return "0";
    }
    if ((over_current & bit) != 0) {
        return "3";
    }
    return static_cast<double>(volts) >= kLoadVolts ? "2" : "1";
}

// The total is "0" with every output off, else "3" or "2" by its bit; it is
// never "1".
const char *total_state(const powerbank_state *state) {
    if (state->poe1_switch == 0 && state->poe2_switch == 0 && state->ups_switch == 0) {
        return "0";
    }
    return (state->over_current_state & kTotalBit) != 0 ? "3" : "2";
}

}  // namespace

int ms51_over_current_state_get(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    return ms51_over_current_read(kMs51OverCurrentReg, &state->over_current_state);
}

int powerbank_set_poe_ups_state(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    state->over_current_check_count++;
    if (state->over_current_check_count % kCheckEvery != 0 && state->over_current_check_now != 1) {
        return 0;
    }
    state->over_current_check_count = 0;
    state->over_current_check_now = 0;

    const float poe1_volts = i2c_mcu_get_adc(0x91);
    const float poe2_volts = i2c_mcu_get_adc(0x95);
    const float ups_volts = i2c_mcu_get_adc(0x96);
    powerbank_debug_log(kUnitPowerbank, "powerbank_set_poe_ups_state", __LINE__,
                        "##poe1_switch=%d adc_value_poe1=%f\n\n", state->poe1_switch,
                        static_cast<double>(poe1_volts));
    powerbank_debug_log(kUnitPowerbank, "powerbank_set_poe_ups_state", __LINE__,
                        "##poe2_switch=%d adc_value_poe2=%f\n\n", state->poe2_switch,
                        static_cast<double>(poe2_volts));
    powerbank_debug_log(kUnitPowerbank, "powerbank_set_poe_ups_state", __LINE__,
                        "##ups_switch=%d adc_value_ups=%f\n\n", state->ups_switch,
                        static_cast<double>(ups_volts));

    // Kept from the last good read when the register cannot be read.
    (void)ms51_over_current_state_get(state);
    const int over_current = state->over_current_state;

    dev_manager_status_set("powerbank_poe1_power_over_current_state",
                           output_state(state->poe1_switch, kPoe1Bit, over_current, poe1_volts));
    dev_manager_status_set("powerbank_poe2_power_over_current_state",
                           output_state(state->poe2_switch, kPoe2Bit, over_current, poe2_volts));
    dev_manager_status_set("powerbank_ups_power_over_current_state",
                           output_state(state->ups_switch, kUpsBit, over_current, ups_volts));
    dev_manager_status_set("powerbank_total_power_over_current_state", total_state(state));
    return 0;
}
