#include "core/state.h"

#include <stdlib.h>
#include <string.h>

#include "led/led_table.h"
#include "store/store.h"

powerbank_state pbstate;

namespace {

constexpr int kDcDisconnectMaxDefault = 10;
// A configured limit of this many passes or more is taken as a mistake.
constexpr int kDcDisconnectMaxCeiling = 31;

}  // namespace

int powerbank_init_state(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    memset(state, 0, sizeof *state);

    powerbank_init_led_state();
    powerbank_close_all_led();

    state->dc_current_state = kDcUnknown;
    state->powerbank1_current_connect_state = kConnectUndetected;
    state->powerbank2_current_connect_state = kConnectUndetected;
    state->powerbank1_cc1_electric_level = kCcLevelUnknown;
    state->powerbank1_cc2_electric_level = kCcLevelUnknown;
    state->powerbank2_cc1_electric_level = kCcLevelUnknown;
    state->powerbank2_cc2_electric_level = kCcLevelUnknown;
    state->powerbank1_cc1_electric_level_last = kCcLevelUnknown;
    state->powerbank1_cc2_electric_level_last = kCcLevelUnknown;
    state->powerbank2_cc1_electric_level_last = kCcLevelUnknown;
    state->powerbank2_cc2_electric_level_last = kCcLevelUnknown;

    // Negative limits are used as they are: the loop then re-detects on every
    // pass that finds the DC input still absent.
    char value[5] = {};
    dev_manager_cfg_get("DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", value);
    int limit = atoi(value);
    if (value[0] == '\0' || limit == 0 || limit >= kDcDisconnectMaxCeiling) {
        limit = kDcDisconnectMaxDefault;
    }
    state->powerbank_run_time_in_dc_disconnect_max = limit;
    return 0;
}
