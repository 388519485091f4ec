// Publication of the power-bank display states, voltages and currents.
#pragma once

struct powerbank_state;

// Publishes both ports' display states and measurements, then sends
// "batterychange". Returns the send's result; -1 for a null record.
int powebank_update_powerbank_display_state(powerbank_state *state);
