// The controller state record: everything the daemon knows about its hardware
// between two passes of the control loop. One global instance, touched only by
// the main thread.
#pragma once

struct powerbank_state {
    int dc_last_state;
    int dc_current_state;  // -1 unknown (GPIO unreadable), 0 absent, 1 present
    int powerbank1_last_connect_state;
    int powerbank1_current_connect_state;  // -1 not yet detected, 0 nothing usable, 1 attached
    int powerbank2_last_connect_state;
    int powerbank2_current_connect_state;
    double powerbank1_voltage;      // volts of the selected source capability
    double powerbank1_electricity;  // amperes of that capability
    double powerbank2_voltage;
    double powerbank2_electricity;
    int powerbank_run_time_in_dc_disconnect;
    int powerbank_run_time_in_dc_disconnect_max;
    float powerbank1_cc1_samples[3];
    float powerbank1_cc2_samples[3];
    float powerbank2_cc1_samples[3];
    float powerbank2_cc2_samples[3];
    int cc_sample_index;
    int powerbank1_cc1_electric_level;  // -1 unknown, 0 low, 1 high
    int powerbank1_cc2_electric_level;
    int powerbank2_cc1_electric_level;
    int powerbank2_cc2_electric_level;
    int powerbank1_cc1_electric_level_last;
    int powerbank1_cc2_electric_level_last;
    int powerbank2_cc1_electric_level_last;
    int powerbank2_cc2_electric_level_last;
    int powerbank_electric_quantity_equal_0;  // empty-battery mark, both ports
    int powerbank_run_time_in_electric_quantity_equal_0;
    int powerbank1_type;  // 0 none or under 10 W, 1 at least 60 W, 2 from 10 W to under 60 W
    int powerbank2_type;
    int over_current_state;  // MCU register 0xa9: 0x02 POE_1, 0x04 POE_2, 0x08 UPS, 0x40 total
    int poe1_switch;
    int poe2_switch;
    int ups_switch;
    int over_current_check_count;
    int over_current_check_now;
};

// The one instance, zero-initialised before main runs.
extern powerbank_state pbstate;

// Resets the record to its start values, initialises the LED table (both LEDs
// written off) and reads the DC-absent re-detection limit from the store.
// Returns 0, or -1 for a null record (nothing touched).
int powerbank_init_state(powerbank_state *state);
