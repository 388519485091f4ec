// The status keys the daemon publishes, read back.
#include "published.h"

#include <devmgr.h>
#include <stdio.h>
#include <string.h>

#include "changes.h"

namespace powerbankctl {

using namespace pbview;

const char *const kOverCurrentKeys[4] = {
    "powerbank_poe1_power_over_current_state",
    "powerbank_poe2_power_over_current_state",
    "powerbank_ups_power_over_current_state",
    "powerbank_total_power_over_current_state",
};

namespace {

// KEY's value, "" when absent or longer than any value the daemon writes.
template <size_t N>
void get(const char *key, char (&out)[N]) {
    (void)devmgr_status_get(key, out, N);
}

void read_port(Published *p, int port) {
    char key[32];
    Published::Port &to = p->ports[port];
    snprintf(key, sizeof key, "powerbank_state_%d", port + 1);
    get(key, to.state);
    snprintf(key, sizeof key, "powerbank%d_voltage", port + 1);
    get(key, to.volts);
    snprintf(key, sizeof key, "powerbank%d_electricity", port + 1);
    get(key, to.amps);
}

}  // namespace

void published_read(Published *p) {
    for (int row = kDc; row <= kOcTotal; ++row) {
        published_read_row(p, row);
    }
}

int published_row(const char *key) {
    if (strcmp(key, "dc_input_stat") == 0) {
        return kDc;
    }
    for (int i = 0; i < 4; ++i) {
        if (strcmp(key, kOverCurrentKeys[i]) == 0) {
            return kOcPoe1 + i;
        }
    }
    if (strcmp(key, "powerbank1_electricity") == 0) {
        return kPort1;
    }
    return strcmp(key, "powerbank2_electricity") == 0 ? kPort2 : -1;
}

void published_read_row(Published *p, int row) {
    if (row == kDc) {
        get("dc_input_stat", p->dc);
    } else if (row == kPort1 || row == kPort2) {
        read_port(p, row - kPort1);
    } else if (row >= kOcPoe1 && row <= kOcTotal) {
        get(kOverCurrentKeys[row - kOcPoe1], p->oc[row - kOcPoe1]);
    }
}

// A port as the board's view tells it: known once its current is published,
// holding a bank unless its state is "0" or was never written.
void row_value(const Published &p, int row, char *out, size_t size) {
    const char *text = "";
    if (row == kDc) {
        text = p.dc;
    } else if (row >= kOcPoe1 && row <= kOcTotal) {
        text = p.oc[row - kOcPoe1];
    } else if (row == kPort1 || row == kPort2) {
        const Published::Port &port = p.ports[row - kPort1];
        if (port.amps[0] != '\0' && port.state[0] != '\0' && strcmp(port.state, "0") != 0) {
            snprintf(out, size, "%sV/%sA", port.volts, port.amps);
            return;
        }
        text = port.amps[0] != '\0' ? "none" : "";
    }
    snprintf(out, size, "%s", text);
}

int port_state(const Published::Port &port) {
    const char *s = port.state;
    if (s[0] == '\0' || s[1] != '\0' || strchr("01245", s[0]) == nullptr) {
        return -1;
    }
    return s[0] - '0';
}

bool state_big(int state) {
    return state == 1 || state == 4;
}

bool state_charging(int state) {
    return state == 1 || state == 2;
}

}  // namespace powerbankctl
