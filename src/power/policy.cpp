#include "power/policy.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "base/log.h"
#include "core/state.h"
#include "hw/mcu.h"
#include "store/store.h"

namespace {

constexpr useconds_t kDefaultDelayUs = 1000000;

// How an output's mode and the board decided it; each has its own debug line.
enum class decision {
    dc_connect,    // automatic, DC present: on
    dc_60w,        // automatic, DC absent, a 60 W power bank attached: on
    dc_under_60w,  // automatic, otherwise: off
    always_open,   // mode "1"
    always_close,  // any other mode, the empty one included
};

bool is_on(decision d) {
    return d == decision::dc_connect || d == decision::dc_60w || d == decision::always_open;
}

// A power bank keeps automatic outputs on only while its port is attached and
// it offers 60 W or more; a weaker one never does.
bool high_power_bank(int connect_state, int type) {
    return connect_state == kConnectAttached && type == kBankTypeHighPower;
}

// An unknown DC state switches automatic outputs off.
decision decide(const powerbank_state *state, const char *mode) {
    if (strcmp(mode, "2") == 0) {
        if (state->dc_current_state == kDcPresent) {
            return decision::dc_connect;
        }
        if (state->dc_current_state == kDcAbsent &&
            (high_power_bank(state->powerbank1_current_connect_state, state->powerbank1_type) ||
             high_power_bank(state->powerbank2_current_connect_state, state->powerbank2_type))) {
            return decision::dc_60w;
        }
        return decision::dc_under_60w;
    }
    return strcmp(mode, "1") == 0 ? decision::always_open : decision::always_close;
}

// The debug line of each decision: the output's name stands between the two
// texts ("ups" for the UPS output).
struct decision_text {
    const char *before;
    const char *after;
};
constexpr decision_text kDecisionTexts[] = {
    {" DC CONNECT ", " OPEN"},            // dc_connect
    {" DC DISCONNECT >= 60W ", " OPEN"},  // dc_60w
    {" DC DISCONNECT < 60W ", " CLOSE"},  // dc_under_60w
    {" ", " ALWAYS OPEN"},                // always_open
    {" ", " ALWAYS CLOSE"},               // always_close
};

void log_decision(const char *func, decision d, const char *name) {
    const decision_text &text = kDecisionTexts[static_cast<int>(d)];
    // The debug line of a nameless output still shows something readable.
    powerbank_debug_log(kUnitPowerbank, func, __LINE__, "%s%s%s\n\n", text.before,
                        name != nullptr ? name : "(null)", text.after);
}

// Microseconds between two output writes: the configured number when it is
// above 0, else one second (empty, 0, negative or not a number).
useconds_t output_delay_us() {
    char value[10] = {};
    dev_manager_cfg_get("DBID_POE_AND_UPS_SET_DElAY", value);
    int delay = atoi(value);
    return delay > 0 ? static_cast<useconds_t>(delay) : kDefaultDelayUs;
}

}  // namespace

int powerbank_set_each_poe(powerbank_state *state, const char *mode, const char *name) {
    if (state == nullptr || mode == nullptr) {
        return -1;
    }
    decision d = decide(state, mode);
    log_decision("powerbank_set_each_poe", d, name);
    // The PSE controls are active low. A null or unknown name writes nothing.
    (void)ms51_poe_ctrl_write(name, is_on(d) ? 0 : 1);
    return is_on(d) ? 1 : 0;
}

int powerbank_set_each_ups(powerbank_state *state, const char *mode) {
    if (state == nullptr || mode == nullptr) {
        return -1;
    }
    decision d = decide(state, mode);
    log_decision("powerbank_set_each_ups", d, "ups");
    // The UPS control is active high; its indicator, MCU LED 1, is written
    // right after with the opposite value.
    (void)ms51_ups_ctrl_write(is_on(d) ? 1 : 0);
    (void)ms51_ups_led_write(is_on(d) ? 0 : 1);
    return is_on(d) ? 1 : 0;
}

void powerbank_set_poe_ups(powerbank_state *state) {
    if (state == nullptr) {
        return;
    }
    // Room for one character: "2" automatic, "1" always on, else always off.
    char poe1_mode[2] = {};
    char poe2_mode[2] = {};
    char ups_mode[2] = {};
    dev_manager_cfg_get("DBID_POE1_ENABLE", poe1_mode);
    dev_manager_cfg_get("DBID_POE2_ENABLE", poe2_mode);
    dev_manager_cfg_get("DBID_UPS_ENABLE", ups_mode);

    // The next over-current step measures whatever its count, and starts from
    // a cleared latch.
    state->over_current_check_now = 1;
    (void)ms51_over_current_clear();

    // Every pass writes all three controls, changed or not, each followed by
    // the settling delay.
    const useconds_t delay = output_delay_us();
    state->poe1_switch = powerbank_set_each_poe(state, poe1_mode, "POE_1");
    usleep(delay);
    state->poe2_switch = powerbank_set_each_poe(state, poe2_mode, "POE_2");
    usleep(delay);
    state->ups_switch = powerbank_set_each_ups(state, ups_mode);
    usleep(delay);
}
