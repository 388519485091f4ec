// The main thread's LED step, once per pass of the control loop: it fills the
// LED table from the state record for the LED thread to play. A port without
// an attached bank is also switched off at once: the step itself writes "0"
// to its LED file.
#pragma once

struct powerbank_state;

// Main thread. Fills led_table from the record; a null record does nothing (-1).
int powerbank_set_powerbank_led(powerbank_state *state);
