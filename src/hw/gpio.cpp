#include "hw/gpio.h"

// Not wired to sysfs yet: nothing is exported or written, and the DC input reads unknown.
int export_powerbank_gpios() {
    return 0;
}
int export_gpio(int) {
    return 0;
}
int get_gpio_value_path(int, char *, int) {
    return -1;
}
int set_gpio_value(int, int) {
    return 0;
}
int set_gpio25_direction(const char *) {
    return 0;
}
int set_gpio25_direction_out() {
    return 0;
}
int powerbank_get_dc_state() {
    return -1;
}
