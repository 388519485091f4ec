#include "bank/cc_watch.h"

#include "base/log.h"
#include "core/state.h"
#include "hw/mcu.h"

namespace {

// One reading of each line per call; every third call turns the last three
// readings of each line into a level.
constexpr int kSamplesPerLevel = 3;
// A mark that stays this many calls re-detects the ports.
constexpr int kEmptyBatteryCalls = 31;

struct cc_line {
    int channel;
    float (powerbank_state::*samples)[kSamplesPerLevel];
    int powerbank_state::*level;
    int powerbank_state::*level_last;
};

// In reading order: port 1 CC1, port 1 CC2, port 2 CC1, port 2 CC2.
constexpr cc_line kLines[] = {
    {0x93, &powerbank_state::powerbank1_cc1_samples,
     &powerbank_state::powerbank1_cc1_electric_level,
     &powerbank_state::powerbank1_cc1_electric_level_last},
    {0x94, &powerbank_state::powerbank1_cc2_samples,
     &powerbank_state::powerbank1_cc2_electric_level,
     &powerbank_state::powerbank1_cc2_electric_level_last},
    {0x90, &powerbank_state::powerbank2_cc1_samples,
     &powerbank_state::powerbank2_cc1_electric_level,
     &powerbank_state::powerbank2_cc1_electric_level_last},
    {0x97, &powerbank_state::powerbank2_cc2_samples,
     &powerbank_state::powerbank2_cc2_electric_level,
     &powerbank_state::powerbank2_cc2_electric_level_last},
};

// Turns the three readings of every line into levels. Readings of one line
// that disagree keep its level and set the empty-battery mark; agreeing
// readings never clear it.
void evaluate_levels(powerbank_state *state) {
    for (const cc_line &line : kLines) {
        state->*line.level_last = state->*line.level;
    }
    for (const cc_line &line : kLines) {
        const float(&samples)[kSamplesPerLevel] = state->*line.samples;
        int highs = 0;
        for (float volts : samples) {
            highs += get_electric_level(volts) == kCcLevelHigh ? 1 : 0;
        }
        if (highs == kSamplesPerLevel) {
            state->*line.level = kCcLevelHigh;
        } else if (highs == 0) {
            state->*line.level = kCcLevelLow;
        } else {
            state->powerbank_electric_quantity_equal_0 = 1;
        }
    }
    powerbank_debug_log(kUnitCommon, "cc_state_is_change", 537,
                        "powerbank1_cc1_electric_level=%d  powerbank1_cc2_electric_level=%d  "
                        "powerbank2_cc1_electric_level=%d  powerbank2_cc2_electric_level=%d\t\n\n",
                        state->powerbank1_cc1_electric_level, state->powerbank1_cc2_electric_level,
                        state->powerbank2_cc1_electric_level, state->powerbank2_cc2_electric_level);
    powerbank_debug_log(
        kUnitCommon, "cc_state_is_change", 538,
        "powerbank1_cc1_electric_level_last=%d    powerbank1_cc2_electric_level_last=%d  "
        "powerbank2_cc1_electric_level_last=%d  powerbank2_cc2_electric_level_last=%d\t\n\n",
        state->powerbank1_cc1_electric_level_last, state->powerbank1_cc2_electric_level_last,
        state->powerbank2_cc1_electric_level_last, state->powerbank2_cc2_electric_level_last);
}

bool any_level_changed(const powerbank_state *state) {
    for (const cc_line &line : kLines) {
        if (state->*line.level != state->*line.level_last) {
            return true;
        }
    }
    return false;
}

}  // namespace

int is_electric_quantity_equal_0(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    if (state->dc_current_state == kDcPresent && state->powerbank_electric_quantity_equal_0 == 1) {
        state->powerbank_run_time_in_electric_quantity_equal_0++;
        powerbank_debug_log(
            kUnitCommon, "is_electric_quantity_equal_0", 427,
            "##############pbstate->powerbank_run_time_in_electric_quantity_equal_0 = %d\n\n",
            state->powerbank_run_time_in_electric_quantity_equal_0);
        if (state->powerbank_run_time_in_electric_quantity_equal_0 >= kEmptyBatteryCalls) {
            state->powerbank_run_time_in_electric_quantity_equal_0 = 0;
            state->powerbank_electric_quantity_equal_0 = 0;
            return 1;
        }
        return 0;
    }
    state->powerbank_electric_quantity_equal_0 = 0;
    state->powerbank_run_time_in_electric_quantity_equal_0 = 0;
    return 0;
}

int cc_state_is_change(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    // Without DC the watch is idle: samples, index, levels and timer stay.
    if (state->dc_current_state != kDcPresent) {
        return 0;
    }

    // The index is 0 to 2 whenever a reading is stored; a stray value starts
    // a fresh cycle rather than writing outside the sample arrays.
    if (state->cc_sample_index < 0 || state->cc_sample_index >= kSamplesPerLevel) {
        state->cc_sample_index = 0;
    }
    const int slot = state->cc_sample_index;
    for (const cc_line &line : kLines) {
        (state->*line.samples)[slot] = i2c_mcu_get_adc(line.channel);
    }

    state->cc_sample_index++;
    const bool evaluated = state->cc_sample_index >= kSamplesPerLevel;
    if (evaluated) {
        state->cc_sample_index = 0;
        evaluate_levels(state);
    }

    // The timer runs on every call, and the call that sets the mark already
    // counts.
    if (is_electric_quantity_equal_0(state) == 1) {
        return 1;
    }
    if (!evaluated) {
        return 0;
    }
    return any_level_changed(state) ? 1 : 0;
}

int dc_or_cc_state_is_change(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    // A DC change re-detects without taking a CC reading.
    if (state->dc_last_state != state->dc_current_state || cc_state_is_change(state) == 1) {
        state->powerbank_electric_quantity_equal_0 = 0;
        return 1;
    }
    return 0;
}
