// board_probe: runs daemon functions one after another in one process, so a
// test can run them on a simulated board and look at what they did there.
//   board_probe CMD ARGS... [CMD ARGS...]...
// Each command takes a fixed number of arguments (see kCommands; numbers are
// strtol base 0) and prints what it returned after the call's own messages.
// All commands share one state record, zero-filled at the start.
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

#include "bank/rt1719.h"
#include "broker/messages.h"
#include "core/display.h"
#include "core/state.h"
#include "hw/gpio.h"
#include "hw/i2c.h"
#include "hw/mcu.h"
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
    {"i2c-read", 3, [](char **a) { return i2c(a, true); }},
    {"i2c-write", 3, [](char **a) { return i2c(a, false); }},
    {"export", 0, [](char **) { return rc(export_powerbank_gpios()); }},
    {"dc", 0, [](char **) { return rc(powerbank_get_dc_state()); }},
    {"set-value", 2, [](char **a) { return rc(set_gpio_value(num(a[0]), num(a[1]))); }},
    // oc-state OLD: the over-current word held before the read, then the read.
    {"oc-state", 1,
     [](char **a) -> int {
         s.over_current_state = num(a[0]);
         const int r = ms51_over_current_state_get(&s);
         return printf("rc=%d state=%d\n", r, s.over_current_state) < 0;
     }},
    {"type", 1, type},
    // display DC,C1,T1,C2,T2[,V1,A1,V2,A2]: the display update on the record
    // with these DC and port states, types and measurements.
    {"display", 1,
     [](char **a) {
         sscanf(a[0], "%d,%d,%d,%d,%d,%lf,%lf,%lf,%lf", &s.dc_current_state,
                &s.powerbank1_current_connect_state, &s.powerbank1_type,
                &s.powerbank2_current_connect_state, &s.powerbank2_type, &s.powerbank1_voltage,
                &s.powerbank1_electricity, &s.powerbank2_voltage, &s.powerbank2_electricity);
         return rc(powebank_update_powerbank_display_state(&s));
     }},
    {"supercap", 0, [](char **) { return rc(rt1719_get_super_capacitor_charge_status()); }},
    {"thresholds", 0, [](char **) { return i2c_mcu_init_threshold(), 0; }},
    {"listen", 0, listen_on_broker_path},
    {"drain", 0, drain},
    {"file", 1, [](char **a) { return rc(powerbank_inter_comm_sendstatfile_msg_send(a[0])); }},
    {"change", 2,
     [](char **a) { return rc(powerbank_inter_comm_sendstatchange_msg_send(a[0], a[1])); }},
    {"raw", 2, raw},
};

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
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
