// The status keys the daemon publishes, read back.
#include "published.h"

#include <devmgr.h>
#include <stdio.h>
#include <string.h>

#include "changes.h"

namespace powerbankctl {

using namespace pbview;

namespace {

constexpr int kKeys = 11;
constexpr size_t kValue = sizeof Published::dc;
static_assert(sizeof(Published) == kKeys * kValue, "the values of Published are one array");

const char *const kKeyNames[kKeys] = {
    "dc_input_stat",
    "powerbank_state_1",
    "powerbank1_voltage",
    "powerbank1_electricity",
    "powerbank_state_2",
    "powerbank2_voltage",
    "powerbank2_electricity",
    "powerbank_poe1_power_over_current_state",
    "powerbank_poe2_power_over_current_state",
    "powerbank_ups_power_over_current_state",
    "powerbank_total_power_over_current_state",
};

// The keys of ROW: the first and how many.
int first_key(int row, int *count) {
    *count = row == kPort1 || row == kPort2 ? 3 : 1;
    return row == kDc ? 0 : row == kPort1 ? 1 : row == kPort2 ? 4 : row - kOcPoe1 + 7;
}

}  // namespace

void published_read(Published *p) {
    for (int row = kDc; row <= kOcTotal; ++row) {
        published_read_row(p, row);
    }
}

int published_row(const char *key) {
    static const int kRows[kKeys] = {kDc,    -1,      -1,      kPort1, -1,      -1,
                                     kPort2, kOcPoe1, kOcPoe2, kOcUps, kOcTotal};
    for (int k = 0; k < kKeys; ++k) {
        if (strcmp(key, kKeyNames[k]) == 0) {
            return kRows[k];
        }
    }
    return -1;
}

void published_read_row(Published *p, int row) {
    if (row != kDc && row != kPort1 && row != kPort2 && row < kOcPoe1) {
        return;  // not published
    }
    int count = 0;
    char *values = reinterpret_cast<char *>(p);
    // A value longer than any the daemon writes reads as absent.
    for (int k = first_key(row, &count); count-- > 0; ++k) {
        (void)devmgr_status_get(kKeyNames[k], values + k * kValue, kValue);
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

const char *bank_class(int state) {
    return state == 1 || state == 4 ? "60 W or more" : "10 to 60 W";
}

const char *bank_role(int state) {
    return state < 3 ? "charging" : "supplying";
}

}  // namespace powerbankctl
