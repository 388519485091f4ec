#include "hw/gpio.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "base/fd_io.h"
#include "base/log.h"

namespace {

constexpr const char kExportPath[] = "/sys/class/gpio/export";
constexpr const char kGpio25DirectionPath[] = "/sys/class/gpio/gpio25/direction";
constexpr const char kGpio25ValuePath[] = "/sys/class/gpio/gpio25/value";

// Numbers, values and directions are built in 10-byte zero-filled buffers,
// paths in 128-byte ones.
constexpr int kTextSize = 10;
constexpr int kPathSize = 128;

constexpr int kDcPin = 25;
constexpr int kResetPin = 19;

bool pin_allowed(int pin) {
    return pin == kDcPin || pin == kResetPin;
}

}  // namespace

int export_powerbank_gpios() {
    // The first export may fail (the line is exported already, or the file is
    // missing): the second is tried all the same, and only its open decides
    // the result.
    (void)export_gpio(kDcPin);
    return export_gpio(kResetPin);
}

int export_gpio(int pin) {
    unique_fd fd = open_fd(kExportPath, O_WRONLY);
    if (!fd) {
        return -1;
    }
    char text[kTextSize] = {};
    // Cut to 9 characters; a kernel that has the line exported already
    // refuses the write, which is not worth a message.
    snprintf(text, sizeof text, "%d", pin);
    (void)write_once(fd.get(), text, strlen(text));
    return 0;
}

int get_gpio_value_path(int pin, char *buf, int size) {
    if (buf == nullptr || size < 1) {
        return -1;
    }
    memset(buf, 0, static_cast<size_t>(size));
    if (!pin_allowed(pin)) {
        return -1;
    }
    snprintf(buf, static_cast<size_t>(size), "/sys/class/gpio/gpio%d/value", pin);
    return 0;
}

int set_gpio_value(int pin, int value) {
    char path[kPathSize];
    if (get_gpio_value_path(pin, path, sizeof path) != 0) {
        return -1;
    }
    // Negative values are refused with the large ones.
    if (static_cast<unsigned int>(value) >= 3) {
        printf("set_gpio_value %d val = 0/1/2\n", pin);
        return -1;
    }
    unique_fd fd = open_fd(path, O_WRONLY);
    if (!fd) {
        return -1;
    }
    char text[kTextSize] = {};
    snprintf(text, sizeof text, "%d", value);
    if (write_once(fd.get(), text, strlen(text)) < 0) {
        perror("write error:");
    }
    return 0;
}

int set_gpio25_direction(const char *direction) {
    if (direction == nullptr) {
        return -1;
    }
    unique_fd fd = open_fd(kGpio25DirectionPath, O_WRONLY);
    if (!fd) {
        return -1;
    }
    // The whole 10-byte buffer goes out, the text followed by zero bytes.
    char text[kTextSize] = {};
    strncpy(text, direction, sizeof text - 1);
    if (write_once(fd.get(), text, sizeof text) < 0) {
        perror("write dir error:");
    }
    return 0;
}

int set_gpio25_direction_out() {
    return set_gpio25_direction("out");
}

int powerbank_get_dc_state() {
    // A reset of the USB-PD controllers drives the line as an output: make it
    // an input again before every sample. A failed write is reported and the
    // sample taken anyway.
    if (set_gpio25_direction("in") != 0) {
        return -1;
    }
    char text[kTextSize] = {};
    {
        unique_fd fd = open_fd(kGpio25ValuePath, O_RDONLY);
        if (!fd) {
            return -1;
        }
        if (read_once(fd.get(), text, sizeof text) < 0) {
            perror("read error:");
            memset(text, 0, sizeof text);
        }
    }
    // No debounce: one sample per pass, and an empty read means absent.
    int stat = text[0] == '1' ? 1 : 0;
    powerbank_debug_log(kUnitCommon, "powerbank_get_dc_state", 788, "stat=%d\n\n", stat);
    return stat;
}
