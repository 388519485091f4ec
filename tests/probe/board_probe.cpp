// board_probe: runs daemon functions one after another in one process, so a
// test can run them on a simulated board and look at what they did there.
//   board_probe CMD ARGS... [CMD ARGS...]...
// Each command takes a fixed number of arguments (see kCommands; numbers are
// strtol base 0) and prints what it returned after the call's own messages.
// All commands share one state record, fresh as at start-up: DC and both
// ports unknown, every CC level -1.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "bank/cc_watch.h"
#include "bank/rt1719.h"
#include "base/log.h"
#include "broker/messages.h"
#include "core/state.h"
#include "hw/gpio.h"
#include "hw/i2c.h"
#include "hw/mcu.h"
#include "led/led_table.h"
#include "power/over_current.h"
#include "power/thresholds.h"

namespace {

powerbank_state s;
int listener = -1;  // the broker's socket path, bound by "listen"

int num(const char *text) {
    return static_cast<int>(strtol(text, nullptr, 0));
}

int rc(int value) {
    return printf("rc=%d\n", value) < 0;
}

// Commands for calls that return nothing.
template <void (*F)()>
int no_result(char **) {
    F();
    return 0;
}

sockaddr_un broker_addr() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, kBrokerSocketPath, sizeof addr.sun_path - 1);
    return addr;
}

// i2c-read|i2c-write ADDR REG LEN: a write sends LEN bytes 11 22 33...
int i2c(char **a, bool read) {
    uint8_t buf[16] = {};
    const unsigned int len = static_cast<unsigned int>(num(a[2])) % sizeof buf;
    const auto addr = static_cast<uint16_t>(num(a[0]));
    const auto reg = static_cast<uint8_t>(num(a[1]));
    if (read) {
        rc(i2c_read_reg_bus0(addr, reg, buf, len));
        for (unsigned int k = 0; k < len; ++k) {
            printf("%02x", buf[k]);
        }
        return printf("\n") < 0;
    }
    for (unsigned int k = 0; k < len; ++k) {
        buf[k] = static_cast<uint8_t>(0x11 * (k + 1));
    }
    // The descriptor is the caller's: i2c_write_reg never closes it.
    const int fd = open("/dev/i2c-0", O_RDWR);
    rc(i2c_write_reg(fd, addr, reg, buf, len));
    if (fd >= 0) {
        close(fd);
    }
    return 0;
}

// adc CH: the raw count, then one reading in volts and its level.
int adc(char **a) {
    unsigned int raw = 0xdead;
    const int r = ms51_adc_read(num(a[0]), &raw);
    printf("rc=%d raw=%#x\n", r, raw);
    const float volts = i2c_mcu_get_adc(num(a[0]));
    return printf("volts=%a level=%d\n", static_cast<double>(volts), get_electric_level(volts)) < 0;
}

// type ADDR: rt1719_get_type on a record where both ports were attached
// before; the result goes to the port's type field as the reset keeps it.
int type(char **a) {
    s.powerbank1_current_connect_state = s.powerbank2_current_connect_state = 1;
    const auto addr = static_cast<uint16_t>(num(a[0]));
    const int t = rt1719_get_type(addr, &s);
    if (addr == kRt1719Port1Addr) {
        s.powerbank1_type = t;
    } else if (addr == kRt1719Port2Addr) {
        s.powerbank2_type = t;
    }
    rc(t);
    printf("port1 type=%d last=%d current=%d volts=%.2f amps=%.2f\n", s.powerbank1_type,
           s.powerbank1_last_connect_state, s.powerbank1_current_connect_state,
           s.powerbank1_voltage, s.powerbank1_electricity);
    return printf("port2 type=%d last=%d current=%d volts=%.2f amps=%.2f\n", s.powerbank2_type,
                  s.powerbank2_last_connect_state, s.powerbank2_current_connect_state,
                  s.powerbank2_voltage, s.powerbank2_electricity) < 0;
}

// cc [Nx]C93,C94,C90,C97: sets the four raw CC counts on the board (a new file
// renamed over the old one, as the board tool does), then makes N calls
// (default 1) of cc_state_is_change with DC present, one line per call.
int cc(char **a) {
    static const unsigned int kChannels[4] = {0x93, 0x94, 0x90, 0x97};
    static int call;
    const char *step = a[0];
    const char *x = strchr(step, 'x');
    const int repeat = x != nullptr ? atoi(step) : 1;
    unsigned int counts[4];
    if (sscanf(x != nullptr ? x + 1 : step, "%u,%u,%u,%u", &counts[0], &counts[1], &counts[2],
               &counts[3]) != 4 ||
        getenv("BOARDSIM_DIR") == nullptr) {
        return 1;
    }
    for (int c = 0; c < 4; c++) {
        char path[512], tmp[520];
        snprintf(path, sizeof path, "%s/in/adc/%02x", getenv("BOARDSIM_DIR"), kChannels[c]);
        snprintf(tmp, sizeof tmp, "%s.probe", path);
        FILE *f = fopen(tmp, "w");
        if (f == nullptr || fprintf(f, "%u\n", counts[c]) < 0 || fclose(f) != 0 ||
            rename(tmp, path) != 0) {
            return 1;
        }
    }
    s.dc_current_state = s.dc_last_state = 1;
    for (int r = 0; r < repeat; r++) {
        const int changed = cc_state_is_change(&s);
        printf("call=%d rc=%d index=%d levels=%d,%d,%d,%d last=%d,%d,%d,%d mark=%d count=%d\n",
               ++call, changed, s.cc_sample_index, s.powerbank1_cc1_electric_level,
               s.powerbank1_cc2_electric_level, s.powerbank2_cc1_electric_level,
               s.powerbank2_cc2_electric_level, s.powerbank1_cc1_electric_level_last,
               s.powerbank1_cc2_electric_level_last, s.powerbank2_cc1_electric_level_last,
               s.powerbank2_cc2_electric_level_last, s.powerbank_electric_quantity_equal_0,
               s.powerbank_run_time_in_electric_quantity_equal_0);
    }
    return 0;
}

// raw TEXT PAD: TEXT as one datagram to the broker's socket, padded with 'x'
// to PAD bytes. Never waits: a broker that stopped reading fails the send,
// not the run.
int raw(char **a) {
    std::string text = a[0];
    text.resize(std::max<size_t>(text.size(), strtoul(a[1], nullptr, 10)), 'x');
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = broker_addr();
    const ssize_t n = sendto(fd, text.data(), text.size(), MSG_DONTWAIT,
                             reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    rc(n == static_cast<ssize_t>(text.size()) ? 0 : -errno);
    return close(fd);
}

// listen: binds the broker's path; drain prints each datagram that arrived
// since ("dgram LEN TEXT", CR and LF shown as \r and \n). Datagrams on a
// local socket are queued by the time sendto returns.
int listen_on_broker_path(char **) {
    unlink(kBrokerSocketPath);
    listener = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = broker_addr();
    return bind(listener, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
}

int drain(char **) {
    char buf[1024];
    ssize_t n;
    while ((n = recv(listener, buf, sizeof buf, MSG_DONTWAIT)) >= 0) {
        printf("dgram %zd ", n);
        for (ssize_t i = 0; i < n; ++i) {
            fputs(buf[i] == '\r' ? "\\r" : buf[i] == '\n' ? "\\n" : "", stdout);
            if (buf[i] != '\r' && buf[i] != '\n') {
                putchar(buf[i]);
            }
        }
        putchar('\n');
    }
    close(listener);
    return unlink(kBrokerSocketPath);
}

struct Command {
    const char *name;
    int nargs;
    int (*run)(char **args);
};

const Command kCommands[] = {
    {"debug", 0,
     [](char **) {
         powerbank_debug = 1;
         return 0;
     }},
    {"i2c-read", 3, [](char **a) { return i2c(a, true); }},
    {"i2c-write", 3, [](char **a) { return i2c(a, false); }},
    {"export", 0, [](char **) { return rc(export_powerbank_gpios()); }},
    {"dc", 0, [](char **) { return rc(powerbank_get_dc_state()); }},
    {"set-value", 2, [](char **a) { return rc(set_gpio_value(num(a[0]), num(a[1]))); }},
    {"set-dir", 1, [](char **a) { return rc(set_gpio25_direction(a[0])); }},
    {"set-dir-null", 0, [](char **) { return rc(set_gpio25_direction(nullptr)); }},
    {"set-dir-out", 0, [](char **) { return rc(set_gpio25_direction_out()); }},
    {"adc", 1, adc},
    // oc-state OLD: the over-current word held before the read, then the read.
    {"oc-state", 1,
     [](char **a) -> int {
         s.over_current_state = num(a[0]);
         const int r = ms51_over_current_state_get(&s);
         return printf("rc=%d state=%d\n", r, s.over_current_state) < 0;
     }},
    {"oc-clear", 0, [](char **) { return rc(ms51_over_current_clear()); }},
    {"reg-write", 2, [](char **a) { return rc(ms51_reg_write(num(a[0]), num(a[1]))); }},
    {"poe", 2, [](char **a) { return rc(ms51_poe_ctrl_write(a[0], num(a[1]))); }},
    {"ups", 1, [](char **a) { return rc(ms51_ups_ctrl_write(num(a[0]))); }},
    {"ups-led", 1, [](char **a) { return rc(ms51_ups_led_write(num(a[0]))); }},
    {"type", 1, type},
    {"supercap", 0, [](char **) { return rc(rt1719_get_super_capacitor_charge_status()); }},
    {"thresholds", 0, no_result<i2c_mcu_init_threshold>},
    {"cc", 1, cc},
    {"led-init", 0, no_result<powerbank_init_led_state>},
    {"led-on", 2, [](char **a) { return rc(powerbank_led_on(num(a[0]), num(a[1]))); }},
    {"led-off", 1, [](char **a) { return rc(powerbank_led_off(num(a[0]))); }},
    {"listen", 0, listen_on_broker_path},
    {"drain", 0, drain},
    {"file", 1, [](char **a) { return rc(powerbank_inter_comm_sendstatfile_msg_send(a[0])); }},
    // file-long N: a name of N 'x'.
    {"file-long", 1,
     [](char **a) {
         const std::string name(strtoul(a[0], nullptr, 10), 'x');
         return rc(powerbank_inter_comm_sendstatfile_msg_send(name.c_str()));
     }},
    {"change", 2,
     [](char **a) { return rc(powerbank_inter_comm_sendstatchange_msg_send(a[0], a[1])); }},
    {"raw", 2, raw},
};

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    s.dc_current_state = -1;
    s.powerbank1_current_connect_state = s.powerbank2_current_connect_state = -1;
    s.powerbank1_cc1_electric_level = s.powerbank1_cc2_electric_level = -1;
    s.powerbank2_cc1_electric_level = s.powerbank2_cc2_electric_level = -1;
    s.powerbank1_cc1_electric_level_last = s.powerbank1_cc2_electric_level_last = -1;
    s.powerbank2_cc1_electric_level_last = s.powerbank2_cc2_electric_level_last = -1;
    for (int i = 1; i < argc;) {
        const Command *cmd = nullptr;
        for (const Command &c : kCommands) {
            if (strcmp(c.name, argv[i]) == 0 && i + c.nargs < argc) {
                cmd = &c;
            }
        }
        if (cmd == nullptr) {
            fprintf(stderr, "board_probe: unknown command or missing arguments: %s\n", argv[i]);
            return 2;
        }
        if (cmd->run(argv + i + 1) != 0) {
            fprintf(stderr, "board_probe: %s failed\n", argv[i]);
            return 1;
        }
        i += 1 + cmd->nargs;
    }
    return 0;
}
