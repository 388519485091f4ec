// Shared set-up for the in-process LED tests: the LED table brought to a known
// state and a state record filled in by hand.
#pragma once

#include <stdint.h>

#include <array>

#include "core/state.h"
#include "led/led_table.h"

// An entry's id, value, mode and tick.
using LedEntryView = std::array<uint16_t, 4>;

inline LedEntryView led_entry_view(int i) {
    return {led_table[i].led_id.load(), led_table[i].led_value.load(), led_table[i].led_mode.load(),
            led_table[i].led_tick.load()};
}

inline void set_led_entry(int i, LedEntryView v) {
    led_table[i].led_id.store(v[0]);
    led_table[i].led_value.store(v[1]);
    led_table[i].led_mode.store(v[2]);
    led_table[i].led_tick.store(v[3]);
}

// DC state and each port's connect state and type; everything else zero.
inline powerbank_state make_state(int dc, int connect1, int type1, int connect2, int type2) {
    powerbank_state s{};
    s.dc_current_state = dc;
    s.powerbank1_current_connect_state = connect1;
    s.powerbank1_type = type1;
    s.powerbank2_current_connect_state = connect2;
    s.powerbank2_type = type2;
    return s;
}
