// The PoE and UPS output policy: modes "2" automatic, "1" always on, anything
// else always off.
#pragma once

struct powerbank_state;

// Decide and write one PoE output; 1 on, 0 off, -1 for a null record or mode.
int powerbank_set_each_poe(powerbank_state *state, const char *mode, const char *name);
// The same for the UPS output and its indicator.
int powerbank_set_each_ups(powerbank_state *state, const char *mode);
// One policy pass over all three outputs, with the configured delay after each.
void powerbank_set_poe_ups(powerbank_state *state);
