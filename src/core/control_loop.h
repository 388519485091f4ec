// Start-up and the one-second control loop of the main thread.
#pragma once

struct powerbank_state;

// Reads "DBID_POWERBANK_DEBUG" into powerbank_debug: 1 exactly for "1".
void powerbank_read_debug_setting();

// One pass: DC sample and change handling, CC watch or DC-absent count with
// the re-detections they ask for, LED step, over-current step. The caller
// sleeps the second between passes.
void powerbank_control_pass(powerbank_state *state);
