// What the daemon publishes in the store's status directory, read back and
// put in the words and values of the shared view's rows.
#pragma once

#include <stddef.h>

namespace powerbankctl {

// The status keys, each as published ("" while the key is absent).
struct Published {
    char dc[16];  // "dc_input_stat": "up" or "down"
    struct Port {
        char state[8];  // "powerbank_state_N": "0", "1", "2", "4" or "5"
        char volts[16];
        char amps[16];
    } ports[2];
    char oc[4][8];  // over-current states of POE_1, POE_2, the UPS and the total
};

// The over-current status keys, in the order of Published::oc.
extern const char *const kOverCurrentKeys[4];

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

// A published display state: 1 or 4 a bank of 60 W or more, 2 or 5 one of
// 10 W to under 60 W; 1 and 2 charged by DC, 4 and 5 supplying the device.
// -1 for anything else, 0 for no usable bank.
int port_state(const Published::Port &port);
bool state_big(int state);
bool state_charging(int state);

}  // namespace powerbankctl
