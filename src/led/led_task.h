// The LED thread (100 ms tick) and the per-pass LED step that fills the table.
#pragma once

#include <stdint.h>

struct powerbank_state;

void powerbank_init_led_task();
void powerbank_led_process();
void powerbank_led_show(uint16_t led, uint16_t value, uint16_t mode, uint16_t tick);
// Fills led_table from the record; a null record does nothing (-1).
int powerbank_set_powerbank_led(powerbank_state *state);
