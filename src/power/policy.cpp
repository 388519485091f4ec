#include "power/policy.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/log.h"
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
// it offers 60 W or more; a weaker one never does. An unknown DC state (-1)
// switches automatic outputs off.
decision decide(const powerbank_state *state, const char *mode) {
    if (strcmp(mode, "2") == 0) {
        if (state->dc_current_state == 1) {
            return decision::dc_connect;
        }
        if (state->dc_current_state == 0 &&
            ((state->powerbank1_current_connect_state == 1 && state->powerbank1_type == 1) ||
             (state->powerbank2_current_connect_state == 1 && state->powerbank2_type == 1))) {
            return decision::dc_60w;
        }
        return decision::dc_under_60w;
    }
    return strcmp(mode, "1") == 0 ? decision::always_open : decision::always_close;
}

void log_poe(decision d, const char *name) {
    // The debug line of a nameless output still shows something readable.
    const char *shown = name != nullptr ? name : "(null)";
    switch (d) {
        case decision::dc_connect:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_poe", __LINE__,
                                " DC CONNECT %s OPEN\n\n", shown);
            break;
        case decision::dc_60w:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_poe", __LINE__,
                                " DC DISCONNECT >= 60W %s OPEN\n\n", shown);
            break;
        case decision::dc_under_60w:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_poe", __LINE__,
                                " DC DISCONNECT < 60W %s CLOSE\n\n", shown);
            break;
        case decision::always_open:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_poe", __LINE__,
                                " %s ALWAYS OPEN\n\n", shown);
            break;
        case decision::always_close:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_poe", __LINE__,
                                " %s ALWAYS CLOSE\n\n", shown);
            break;
    }
}

void log_ups(decision d) {
    switch (d) {
        case decision::dc_connect:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_ups", __LINE__,
                                " DC CONNECT ups OPEN\n\n");
            break;
        case decision::dc_60w:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_ups", __LINE__,
                                " DC DISCONNECT >= 60W ups OPEN\n\n");
            break;
        case decision::dc_under_60w:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_ups", __LINE__,
                                " DC DISCONNECT < 60W ups CLOSE\n\n");
            break;
        case decision::always_open:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_ups", __LINE__,
                                " ups ALWAYS OPEN\n\n");
            break;
        case decision::always_close:
            powerbank_debug_log(kUnitPowerbank, "powerbank_set_each_ups", __LINE__,
                                " ups ALWAYS CLOSE\n\n");
            break;
    }
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
    log_poe(d, name);
    // The PSE controls are active low. A null or unknown name writes nothing.
    (void)ms51_poe_ctrl_write(name, is_on(d) ? 0 : 1);
    return is_on(d) ? 1 : 0;
}

int powerbank_set_each_ups(powerbank_state *state, const char *mode) {
    if (state == nullptr || mode == nullptr) {
        return -1;
    }
    decision d = decide(state, mode);
    log_ups(d);
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
