// What the daemon publishes in the store's status directory, read back and
// put in the words and values of the shared view's rows.
#pragma once

#include <stddef.h>

namespace powerbankctl {

// The status keys, each as published ("" while the key is absent), in the
// order of the keys (read as one array of values).
struct Published {
    char dc[16];  // "dc_input_stat": "up" or "down"
    struct Port {
        char state[16];  // "powerbank_state_N": "0", "1", "2", "4" or "5"
        char volts[16];  // "powerbankN_voltage"
        char amps[16];   // "powerbankN_electricity"
    } ports[2];
    char oc[4][16];  // over-current states of POE_1, POE_2, the UPS and the total
};

void published_read(Published *p);

// The shared view's row (pbview::Row) whose value status KEY completes, or -1:
// dc_input_stat gives the DC row, an over-current key its row, and a port's
// current its port's row (the last of the three values a display update
// writes, so the port is told whole).
int published_row(const char *key);
// Reads the keys of ROW (kDc, kPort1, kPort2, kOcPoe1..kOcTotal) again.
void published_read_row(Published *p, int row);
// ROW's value in the shared view's words, "" while not known: "up"/"down";
// "none" or "20.00V/3.25A" for a port once its current is published; the
// over-current states as published.
void row_value(const Published &p, int row, char *out, size_t size);

// A port's published display state: 1 or 4 a bank of 60 W or more, 2 or 5
// one of 10 W to under 60 W; 1 and 2 charged by DC, 4 and 5 supplying the
// device; 0 no usable bank. -1 for none published, or one the daemon does not
// write.
int port_state(const Published::Port &port);
// The class and role of a bank in STATE (1, 2, 4, 5): "60 W or more" or
// "10 to 60 W", "charging" or "supplying".
const char *bank_class(int state);
const char *bank_role(int state);

}  // namespace powerbankctl
