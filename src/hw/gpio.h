// The sysfs GPIO lines: 25 reports the DC input, 19 is driven during a reset
// of the USB-PD controllers.
#pragma once

int export_powerbank_gpios();
int export_gpio(int pin);
int get_gpio_value_path(int pin, char *buf, int size);
int set_gpio_value(int pin, int value);
int set_gpio25_direction(const char *direction);
int set_gpio25_direction_out();

// One sample of the DC input: 1 present, 0 absent, -1 the GPIO files could not
// be opened. Sets GPIO 25 back to "in" first.
int powerbank_get_dc_state();
