// The controller state record: everything the daemon knows about its hardware
// between two passes of the control loop. One global instance, touched only by
// the main thread.
#pragma once

// What the record's fields hold. The fields stay plain ints and the record
// keeps its layout: other code and the tests rely on both.

// dc_last_state, dc_current_state.
inline constexpr int kDcUnknown = -1;  // the GPIO files could not be read
inline constexpr int kDcAbsent = 0;
inline constexpr int kDcPresent = 1;

// powerbankN_last_connect_state, powerbankN_current_connect_state.
inline constexpr int kConnectUndetected = -1;  // not yet detected
inline constexpr int kConnectNone = 0;         // nothing usable on the port
inline constexpr int kConnectAttached = 1;

// powerbankN_type, by the power the bank offers.
inline constexpr int kBankTypeNone = 0;       // none, or under 10 W
inline constexpr int kBankTypeHighPower = 1;  // 60 W or more
inline constexpr int kBankTypeLowPower = 2;   // from 10 W to under 60 W

// powerbankN_ccM_electric_level and its _last.
inline constexpr int kCcLevelUnknown = -1;
inline constexpr int kCcLevelLow = 0;
inline constexpr int kCcLevelHigh = 1;

// A port's display state, published as "powerbank_state_N": no usable bank,
// a bank charged from DC, or a bank supplying the device without DC.
inline constexpr const char kDisplayNoBank[] = "0";
inline constexpr const char kDisplayChargingHighPower[] = "1";
inline constexpr const char kDisplayChargingLowPower[] = "2";
inline constexpr const char kDisplaySupplyingHighPower[] = "4";
inline constexpr const char kDisplaySupplyingLowPower[] = "5";

struct powerbank_state {
    int dc_last_state;
    int dc_current_state;  // kDc...
    int powerbank1_last_connect_state;
    int powerbank1_current_connect_state;  // kConnect...
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
    int powerbank1_cc1_electric_level;  // kCcLevel...
    int powerbank1_cc2_electric_level;
    int powerbank2_cc1_electric_level;
    int powerbank2_cc2_electric_level;
    int powerbank1_cc1_electric_level_last;
    int powerbank1_cc2_electric_level_last;
    int powerbank2_cc1_electric_level_last;
    int powerbank2_cc2_electric_level_last;
    int powerbank_electric_quantity_equal_0;  // empty-battery mark, both ports
    int powerbank_run_time_in_electric_quantity_equal_0;
    int powerbank1_type;  // kBankType...
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
