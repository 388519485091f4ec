// hw_probe: calls one function of the hardware layer, so that a test can run
// it on a simulated board and look at what it did there. Prints "rc=N" (and
// what the call read) after the call's own messages.
//   hw_probe [-d] VERB ARGS...    (-d: debug lines on; numbers as strtol base 0)
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "core/state.h"
#include "hw/gpio.h"
#include "hw/i2c.h"
#include "hw/mcu.h"

namespace {

char **args;
int nargs;

int num(int i) {
    return static_cast<int>(strtol(args[i], nullptr, 0));
}

bool is(const char *verb, const char *name, int want) {
    return strcmp(verb, name) == 0 && nargs == want;
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
        return 2;
    }
    const char *verb = argv[i];
    args = argv + i + 1;
    nargs = argc - i - 1;

    if (is(verb, "read-bus0", 3) || is(verb, "write-reg", 3)) {  // ADDR REG LEN
        uint8_t buf[16] = {};
        const unsigned int len = static_cast<unsigned int>(num(2)) % sizeof buf;
        const auto addr = static_cast<uint16_t>(num(0));
        const auto reg = static_cast<uint8_t>(num(1));
        if (verb[0] == 'r') {
            printf("rc=%d\n", i2c_read_reg_bus0(addr, reg, buf, len));
            for (unsigned int k = 0; k < len; ++k) {
                printf("%02x", buf[k]);
            }
            printf("\n");
        } else {
            for (unsigned int k = 0; k < len; ++k) {
                buf[k] = static_cast<uint8_t>(0x11 * (k + 1));
            }
            // The descriptor is the caller's: i2c_write_reg never closes it.
            int fd = open("/dev/i2c-0", O_RDWR);
            printf("rc=%d\n", i2c_write_reg(fd, addr, reg, buf, len));
            close(fd);
        }
    } else if (is(verb, "export", 0)) {
        printf("rc=%d\n", export_powerbank_gpios());
    } else if (is(verb, "dc", 0)) {
        printf("rc=%d\n", powerbank_get_dc_state());
    } else if (is(verb, "set-value", 2)) {
        printf("rc=%d\n", set_gpio_value(num(0), num(1)));
    } else if (is(verb, "set-dir", 1) || is(verb, "set-dir", 0)) {  // no text: null
        printf("rc=%d\n", set_gpio25_direction(nargs ? args[0] : nullptr));
    } else if (is(verb, "set-dir-out", 0)) {
        printf("rc=%d\n", set_gpio25_direction_out());
    } else if (is(verb, "adc", 1)) {  // CHANNEL: the raw count, then one reading in volts
        unsigned int raw = 0xdead;
        printf("rc=%d ", ms51_adc_read(num(0), &raw));
        printf("raw=%#x\n", raw);
        const float volts = i2c_mcu_get_adc(num(0));
        printf("volts=%a level=%d\n", static_cast<double>(volts), get_electric_level(volts));
    } else if (is(verb, "oc-state", 1)) {  // the over-current word held before the read
        pbstate.over_current_state = num(0);
        printf("rc=%d ", ms51_over_current_state_get(&pbstate));
        printf("state=%d\n", pbstate.over_current_state);
    } else if (is(verb, "oc-clear", 0)) {
        printf("rc=%d\n", ms51_over_current_clear());
    } else if (is(verb, "reg-write", 2)) {
        printf("rc=%d\n", ms51_reg_write(num(0), num(1)));
    } else if (is(verb, "poe", 2)) {  // NAME VALUE
        printf("rc=%d\n", ms51_poe_ctrl_write(args[0], num(1)));
    } else if (is(verb, "ups", 1)) {  // the control, then its indicator the other way
        printf("rc=%d ", ms51_ups_ctrl_write(num(0)));
        printf("rc=%d\n", ms51_ups_led_write(!num(0)));
    } else {
        fprintf(stderr, "hw_probe: unknown verb or arguments\n");
        return 2;
    }
    return 0;
}
