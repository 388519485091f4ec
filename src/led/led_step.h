// The LED thread (100 ms tick) and the per-pass LED step that fills the table.
#pragma once

#include <stdint.h>

struct powerbank_state;

// Starts the LED thread: every 100 ms one powerbank_led_process, for ever.
// Safe before the LED table is initialised.
void powerbank_init_led_task();
// One tick over entry 0, then entry 1: show the entry, then advance its tick
// (0..254, then 5..254 again, keeping the phase of the ten-tick blink).
void powerbank_led_process();
// Tick 0: the steady write whatever the mode. Blinking (mode 1): on at ticks
// ending in 0, off at ticks ending in 5.
void powerbank_led_show(uint16_t led, uint16_t value, uint16_t mode, uint16_t tick);
// Fills led_table from the record; a null record does nothing (-1).
int powerbank_set_powerbank_led(powerbank_state *state);
