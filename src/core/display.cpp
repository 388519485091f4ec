#include "core/display.h"

#include <stdio.h>

#include "bank/rt1719.h"
#include "base/log.h"
#include "broker/messages.h"
#include "core/state.h"
#include "store/store.h"

namespace {

// The display state of one port as other processes read it: "0" no bank,
// "1"/"2" a bank charged from DC (60 W and above / 10 W to under 60 W),
// "4"/"5" a bank supplying the device. Null while the port is not yet
// detected or its type is none of these: its key then keeps its value.
const char *display_state(int dc_state, int connect_state, int type) {
    if (connect_state == kConnectNone) {
        return kDisplayNoBank;
    }
    if (connect_state != kConnectAttached) {
        return nullptr;
    }
    const bool dc_present = dc_state == kDcPresent;
    switch (type) {
        case kBankTypeHighPower:
            return dc_present ? kDisplayChargingHighPower : kDisplaySupplyingHighPower;
        case kBankTypeLowPower:
            return dc_present ? kDisplayChargingLowPower : kDisplaySupplyingLowPower;
        default:
            return nullptr;
    }
}

void publish_display_states(const powerbank_state *state) {
    const char *port1 = display_state(
        state->dc_current_state, state->powerbank1_current_connect_state, state->powerbank1_type);
    if (port1 != nullptr) {
        dev_manager_status_set("powerbank_state_1", port1);
    }
    const char *port2 = display_state(
        state->dc_current_state, state->powerbank2_current_connect_state, state->powerbank2_type);
    if (port2 != nullptr) {
        dev_manager_status_set("powerbank_state_2", port2);
    }
}

// Two decimals in at most nine characters; a value too wide for that is cut.
void publish_measurement(const char *key, double value) {
    char text[10] = {};
    snprintf(text, sizeof text, "%.2f", value);
    dev_manager_status_set(key, text);
}

}  // namespace

int powebank_update_powerbank_display_state(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    powerbank_debug_log(kUnitPowerbank, __func__, __LINE__,
                        "#####pbstate->powerbank1_type=%d   pbstate->powerbank2_type=%d\n\n",
                        state->powerbank1_type, state->powerbank2_type);

    if (state->dc_current_state != kDcPresent) {
        powerbank_debug_log(kUnitPowerbank, __func__, __LINE__,
                            "###############pbstate->powerbank1_current_connect_state=%d  "
                            "bstate->powerbank2_current_connect_state=%d\n\n",
                            state->powerbank1_current_connect_state,
                            state->powerbank2_current_connect_state);
        // Running on batteries with nothing found on either port: look once
        // more before publishing, and publish what that finds.
        if (state->powerbank1_current_connect_state == kConnectNone &&
            state->powerbank2_current_connect_state == kConnectNone) {
            rt1719_reset(state);
        }
    }
    publish_display_states(state);

    publish_measurement("powerbank1_voltage", state->powerbank1_voltage);
    publish_measurement("powerbank2_voltage", state->powerbank2_voltage);
    publish_measurement("powerbank1_electricity", state->powerbank1_electricity);
    publish_measurement("powerbank2_electricity", state->powerbank2_electricity);

    return powerbank_inter_comm_sendstatfile_msg_send("batterychange");
}
