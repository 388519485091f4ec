// supervision_probe: runs one operation of the power-bank supervision or the
// output control on a fresh state record, so that a test can run it on a
// simulated board and look at the journal and the store afterwards. Prints
// what the operation left in the record on standard output.
//
//   supervision_probe [-d] VERB ARGS...    (-d: debug lines on)
//
//   type ADDR                 rt1719_get_type on a record where both ports
//                             were attached before (connect states 1); the
//                             result goes to the port's type field
//   supercap                  rt1719_get_super_capacitor_charge_status
//   thresholds                i2c_mcu_init_threshold
//   over-current N P1 P2 U    N calls of powerbank_set_poe_ups_state with those
//                             switches, starting from a forced measurement
//   cc-watch STEP...          calls of cc_state_is_change with DC present; a
//                             STEP "[Nx]C93,C94,C90,C97" sets the four raw CC
//                             counts on the board, then makes N calls (default 1)
//
// Numbers are parsed with strtol base 0 (so 0x43 works).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "bank/cc_watch.h"
#include "bank/rt1719.h"
#include "core/state.h"
#include "power/over_current.h"
#include "power/thresholds.h"

namespace {

int num(const char *s) {
    return static_cast<int>(strtol(s, nullptr, 0));
}

void print_ports(const powerbank_state &s) {
    printf("port1 type=%d last=%d current=%d volts=%.2f amps=%.2f\n", s.powerbank1_type,
           s.powerbank1_last_connect_state, s.powerbank1_current_connect_state,
           s.powerbank1_voltage, s.powerbank1_electricity);
    printf("port2 type=%d last=%d current=%d volts=%.2f amps=%.2f\n", s.powerbank2_type,
           s.powerbank2_last_connect_state, s.powerbank2_current_connect_state,
           s.powerbank2_voltage, s.powerbank2_electricity);
}

// Sets the raw count of ADC channel CH the way the board tool does: a new
// file renamed over the old one.
bool set_adc(unsigned int channel, unsigned int count) {
    const char *dir = getenv("BOARDSIM_DIR");
    if (dir == nullptr) {
        return false;
    }
    char path[512];
    char tmp[520];
    snprintf(path, sizeof path, "%s/in/adc/%02x", dir, channel);
    snprintf(tmp, sizeof tmp, "%s.probe", path);
    FILE *f = fopen(tmp, "w");
    if (f == nullptr) {
        return false;
    }
    fprintf(f, "%u\n", count);
    fclose(f);
    return rename(tmp, path) == 0;
}

// One line per call: what the watch answered and left in the record.
void print_cc(int call, int rc, const powerbank_state &s) {
    printf("call=%d rc=%d index=%d levels=%d,%d,%d,%d last=%d,%d,%d,%d mark=%d count=%d\n", call,
           rc, s.cc_sample_index, s.powerbank1_cc1_electric_level, s.powerbank1_cc2_electric_level,
           s.powerbank2_cc1_electric_level, s.powerbank2_cc2_electric_level,
           s.powerbank1_cc1_electric_level_last, s.powerbank1_cc2_electric_level_last,
           s.powerbank2_cc1_electric_level_last, s.powerbank2_cc2_electric_level_last,
           s.powerbank_electric_quantity_equal_0,
           s.powerbank_run_time_in_electric_quantity_equal_0);
}

int cc_watch(int nsteps, char **steps, powerbank_state &s) {
    static const unsigned int kChannels[4] = {0x93, 0x94, 0x90, 0x97};
    s.dc_current_state = s.dc_last_state = 1;
    s.powerbank1_cc1_electric_level = s.powerbank1_cc2_electric_level = -1;
    s.powerbank2_cc1_electric_level = s.powerbank2_cc2_electric_level = -1;
    s.powerbank1_cc1_electric_level_last = s.powerbank1_cc2_electric_level_last = -1;
    s.powerbank2_cc1_electric_level_last = s.powerbank2_cc2_electric_level_last = -1;
    int call = 0;
    for (int k = 0; k < nsteps; k++) {
        unsigned int repeat = 1;
        unsigned int counts[4];
        const char *step = steps[k];
        const char *x = strchr(step, 'x');
        if (x != nullptr) {
            repeat = static_cast<unsigned int>(strtoul(step, nullptr, 10));
            step = x + 1;
        }
        if (sscanf(step, "%u,%u,%u,%u", &counts[0], &counts[1], &counts[2], &counts[3]) != 4) {
            return 2;
        }
        for (int c = 0; c < 4; c++) {
            if (!set_adc(kChannels[c], counts[c])) {
                fprintf(stderr, "cannot set ADC channel %x\n", kChannels[c]);
                return 1;
            }
        }
        for (unsigned int r = 0; r < repeat; r++) {
            int rc = cc_state_is_change(&s);
            print_cc(++call, rc, s);
        }
    }
    return 0;
}

int usage() {
    fprintf(stderr, "usage: supervision_probe [-d] VERB ARGS...\n");
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    int i = 1;
    if (i < argc && strcmp(argv[i], "-d") == 0) {
        powerbank_debug = 1;
        ++i;
    }
    if (i >= argc) {
        return usage();
    }
    const char *verb = argv[i++];
    const int nargs = argc - i;
    char **a = argv + i;

    powerbank_state s;
    memset(&s, 0, sizeof s);
    s.dc_current_state = -1;
    s.powerbank1_current_connect_state = s.powerbank2_current_connect_state = -1;

    if (strcmp(verb, "type") == 0 && nargs == 1) {
        s.powerbank1_current_connect_state = s.powerbank2_current_connect_state = 1;
        const uint16_t addr = static_cast<uint16_t>(num(a[0]));
        const int type = rt1719_get_type(addr, &s);
        // Kept in the port's type field as the reset keeps it.
        if (addr == kRt1719Port1Addr) {
            s.powerbank1_type = type;
        } else if (addr == kRt1719Port2Addr) {
            s.powerbank2_type = type;
        }
        printf("rc=%d\n", type);
        print_ports(s);
        return 0;
    }
    if (strcmp(verb, "supercap") == 0 && nargs == 0) {
        printf("rc=%d\n", rt1719_get_super_capacitor_charge_status());
        return 0;
    }
    if (strcmp(verb, "thresholds") == 0 && nargs == 0) {
        i2c_mcu_init_threshold();
        printf("rc=0\n");
        return 0;
    }
    if (strcmp(verb, "over-current") == 0 && nargs == 4) {
        s.poe1_switch = num(a[1]);
        s.poe2_switch = num(a[2]);
        s.ups_switch = num(a[3]);
        s.over_current_check_now = 1;
        for (int call = num(a[0]); call > 0; call--) {
            (void)powerbank_set_poe_ups_state(&s);
        }
        printf("state=0x%x count=%d\n", static_cast<unsigned int>(s.over_current_state),
               s.over_current_check_count);
        return 0;
    }
    if (strcmp(verb, "cc-watch") == 0 && nargs >= 1) {
        return cc_watch(nargs, a, s);
    }
    return usage();
}
