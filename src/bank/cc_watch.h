// The watch on the CC lines of both USB-C ports and on an empty battery, run
// once per pass while the DC input is present.
#pragma once

struct powerbank_state;

// 1 when the power banks must be re-detected; 0 otherwise (always 0 while DC
// is not present); -1 for a null record.
int cc_state_is_change(powerbank_state *state);

// One step of the empty-battery timer: 1 when the limit is reached.
int is_electric_quantity_equal_0(powerbank_state *state);

// 1 when the DC state changed on this pass or the CC watch asks for a
// re-detection (the empty-battery mark is then cleared); 0 otherwise.
int dc_or_cc_state_is_change(powerbank_state *state);
