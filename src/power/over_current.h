// Over-current supervision: every fifth call, or right after a policy pass,
// measures the outputs and publishes the four over-current states.
#pragma once

struct powerbank_state;

// 0, or -1 for a null record.
int powerbank_set_poe_ups_state(powerbank_state *state);

// Reads the MCU's over-current register into the record's over_current_state
// (kept on failure). 0, or -1 for a null record.
int ms51_over_current_state_get(powerbank_state *state);
