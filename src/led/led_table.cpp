#include "led/led_table.h"

#include <stdio.h>
#include <string.h>

#include "base/fd_io.h"

led_entry led_table[2];

namespace {

// The LED number must be one of the table's LED ids. While the table is still
// zero-filled both ids are 0, so LED 0 matches then (and its file does not
// exist on the device).
bool led_is_known(int led) {
    return led == led_table[0].led_id.load(kLedOrder) || led == led_table[1].led_id.load(kLedOrder);
}

// Opens the LED's class file write-only and writes NUMBER as decimal text,
// without NUL or newline; with no NUMBER the file is opened and closed without
// data. 0 once the file was opened, -1 when the LED is unknown or its file
// cannot be opened.
int led_write(int led, const int *number) {
    if (!led_is_known(led)) {
        return -1;
    }
    char path[128];
    snprintf(path, sizeof path, "/sys/class/leds/usbc%d/LineLedControl", led);
    unique_fd fd = open_fd(path, O_WRONLY);
    if (!fd) {
        return -1;
    }
    if (number != nullptr) {
        char text[10] = {};
        snprintf(text, sizeof text, "%d", *number);
        // LED failures are silent: nobody reads the result of a write.
        (void)write_once(fd.get(), text, strlen(text));
    }
    return 0;
}

void reset_entry(led_entry &entry) {
    entry.led_value.store(kLedValueOff, kLedOrder);
    entry.led_mode.store(kLedModeSteady, kLedOrder);
    entry.led_tick.store(0, kLedOrder);
}

}  // namespace

void powerbank_init_led_state() {
    for (int i = 0; i < 2; i++) {
        led_table[i].led_id.store(static_cast<uint16_t>(i + 1), kLedOrder);
        reset_entry(led_table[i]);
    }
}

void powerbank_close_all_led() {
    for (led_entry &entry : led_table) {
        reset_entry(entry);
        powerbank_led_off(entry.led_id.load(kLedOrder));
    }
}

int powerbank_led_on(int value, int led) {
    int number;
    switch (value) {
        case kLedValueLow:
            number = 1;
            break;
        case kLedValueHigh:
            number = 255;
            break;
        default:
            // Any other value still opens and closes the file, without data.
            return led_write(led, nullptr);
    }
    return led_write(led, &number);
}

int powerbank_led_off(int led) {
    const int number = 0;
    return led_write(led, &number);
}
