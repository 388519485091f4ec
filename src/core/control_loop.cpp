#include "core/control_loop.h"

#include <string.h>

#include "bank/cc_watch.h"
#include "bank/rt1719.h"
#include "base/log.h"
#include "broker/messages.h"
#include "core/display.h"
#include "core/state.h"
#include "hw/gpio.h"
#include "led/led_step.h"
#include "power/over_current.h"
#include "power/policy.h"
#include "store/store.h"

namespace {

// Re-detection after a DC change or when the CC watch asks for it.
void redetect(powerbank_state *state) {
    rt1719_reset(state);
    powerbank_set_poe_ups(state);
    powebank_update_powerbank_display_state(state);
}

// Periodic re-detection while the DC input stays absent: the outputs and the
// display are touched only when a port's connect state changed.
void redetect_periodic(powerbank_state *state) {
    rt1719_reset(state);
    // The log readers know these two lines by these line numbers.
    powerbank_debug_log(kUnitPowerbank, "main", 695,
                        "powerbank1_last_connect_state=%d  powerbank1_current_connect_state=%d\n\n",
                        state->powerbank1_last_connect_state,
                        state->powerbank1_current_connect_state);
    powerbank_debug_log(kUnitPowerbank, "main", 696,
                        "powerbank2_last_connect_state=%d  powerbank2_current_connect_state=%d\n\n",
                        state->powerbank2_last_connect_state,
                        state->powerbank2_current_connect_state);
    if (state->powerbank1_last_connect_state != state->powerbank1_current_connect_state ||
        state->powerbank2_last_connect_state != state->powerbank2_current_connect_state) {
        powerbank_set_poe_ups(state);
        powebank_update_powerbank_display_state(state);
    }
}

void publish_dc_change(powerbank_state *state) {
    state->cc_sample_index = 0;
    if (state->dc_current_state == kDcPresent) {
        dev_manager_status_set("dc_input_stat", "up");
    } else if (state->dc_current_state == kDcAbsent) {
        dev_manager_status_set("dc_input_stat", "down");
    }
    powerbank_inter_comm_sendstatfile_msg_send("dcchange");
}

}  // namespace

void powerbank_read_debug_setting() {
    char value[2] = {};
    dev_manager_cfg_get("DBID_POWERBANK_DEBUG", value);
    powerbank_debug = strcmp(value, "1") == 0 ? 1 : 0;
}

void powerbank_control_pass(powerbank_state *state) {
    state->dc_last_state = state->dc_current_state;
    state->dc_current_state = powerbank_get_dc_state();
    if (state->dc_current_state != state->dc_last_state) {
        publish_dc_change(state);
    }

    // A DC change answers 1 here without a CC reading, so a pass with a DC
    // change neither counts nor resets the DC-absent count.
    if (dc_or_cc_state_is_change(state) == 1) {
        redetect(state);
    } else if (state->dc_current_state == kDcAbsent) {
        state->powerbank_run_time_in_dc_disconnect++;
        if (state->powerbank_run_time_in_dc_disconnect >
            state->powerbank_run_time_in_dc_disconnect_max) {
            state->powerbank_run_time_in_dc_disconnect = 0;
            redetect_periodic(state);
        }
    } else {
        state->powerbank_run_time_in_dc_disconnect = 0;
    }

    powerbank_set_powerbank_led(state);
    powerbank_set_poe_ups_state(state);
}
