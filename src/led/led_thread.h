// The LED thread: every 100 ms it plays the LED table on the two port LEDs.
// It reads the table, moves its ticks on and writes the LED files; it never
// touches the state record.
#pragma once

#include <stdint.h>

// Main thread, once at start-up: starts the LED thread, which runs one
// powerbank_led_process every 100 ms for ever. Safe before the LED table is
// initialised.
void powerbank_init_led_task();

// LED thread. One tick over entry 0, then entry 1: show the entry, then
// advance its tick (0..254, then 5..254 again, keeping the phase of the
// ten-tick blink).
void powerbank_led_process();
// LED thread. Tick 0: the steady write whatever the mode. Blinking: on at
// ticks ending in 0, off at ticks ending in 5.
void powerbank_led_show(uint16_t led, uint16_t value, uint16_t mode, uint16_t tick);
