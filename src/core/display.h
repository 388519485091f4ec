// Publication of the power-bank display states, voltages and currents.
#pragma once

struct powerbank_state;

// Unless DC is present, with nothing usable on either port it re-detects both
// ports first. Then publishes both ports' display states and measurements and sends
// "batterychange". Returns the send's result; -1 for a null record.
int powebank_update_powerbank_display_state(powerbank_state *state);
