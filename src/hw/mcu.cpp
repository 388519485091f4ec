#include "hw/mcu.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "base/fd_io.h"
#include "base/log.h"

namespace {

// Two sysfs routes lead to the same ms51-dev directory; each attribute is
// always reached through the route its users know it by.
constexpr const char kRegPath[] =
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev/ms51_reg";
constexpr const char kAdcPath[] = "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/ms51_adc";
constexpr const char kOverCurrentPath[] =
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev/ms51_over_current";
constexpr const char kPse1CtrlPath[] =
    "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/ms51_pse1_ctrl";
constexpr const char kPse2CtrlPath[] =
    "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/ms51_pse2_ctrl";
constexpr const char kUpsCtrlPath[] =
    "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/ms51_ups_ctrl";
constexpr const char kLedsPath[] =
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev/ms51_leds";

constexpr int kUpsLedIndex = 1;

// Longest command: "w ffffffff ffffffff \n" plus its NUL.
constexpr size_t kCommandSize = 32;
// A read-back is one short number; anything longer is cut.
constexpr size_t kReadBackSize = 32;

// Opens PATH as a fresh "w+" stream would (read-write, created, truncated)
// and writes the formatted command with one write(2). An attribute that
// cannot be opened is skipped silently; a failed write is silent too.
__attribute__((format(printf, 2, 3))) void send_command(const char *path, const char *fmt, ...) {
    unique_fd fd = open_fd(path, O_RDWR | O_CREAT | O_TRUNC, 0666);
    if (!fd) {
        return;
    }
    char text[kCommandSize];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    if (n < 0) {
        return;
    }
    size_t len = static_cast<size_t>(n) < sizeof text ? static_cast<size_t>(n) : sizeof text - 1;
    (void)write_once(fd.get(), text, len);
}

// Reads the attribute's answer into TEXT (always NUL-terminated). False when
// the file cannot be opened or read.
[[nodiscard]] bool read_answer(const char *path, char (&text)[kReadBackSize]) {
    memset(text, 0, sizeof text);
    unique_fd fd = open_fd(path, O_RDONLY);
    if (!fd) {
        return false;
    }
    return read_once(fd.get(), text, sizeof text - 1) > 0;
}

}  // namespace

int ms51_reg_write(int reg, int value) {
    send_command(kRegPath, "w %x %x \n", static_cast<unsigned int>(reg),
                 static_cast<unsigned int>(value));
    return 0;
}

// A null out pointer is refused before anything is written (-1). Otherwise
// the request goes out even if it cannot be written, and the answer is read
// back all the same: without a fresh request it is whatever the driver holds.
int ms51_adc_read(int channel, unsigned int *raw) {
    if (raw == nullptr) {
        return -1;
    }
    send_command(kAdcPath, "r %x\n", static_cast<unsigned int>(channel));
    char text[kReadBackSize];
    if (read_answer(kAdcPath, text)) {
        unsigned int value;
        if (sscanf(text, "%x", &value) == 1) {
            *raw = value;
        }
    }
    return 0;
}

int ms51_over_current_read(int reg, int *value) {
    if (value == nullptr) {
        return -1;
    }
    send_command(kOverCurrentPath, "r %x\n", static_cast<unsigned int>(reg));
    char text[kReadBackSize];
    if (read_answer(kOverCurrentPath, text)) {
        int parsed;
        if (sscanf(text, "%d", &parsed) == 1) {
            *value = parsed;
        }
    }
    return 0;
}

int ms51_over_current_write(int reg, int value) {
    send_command(kOverCurrentPath, "w %x %x \n", static_cast<unsigned int>(reg),
                 static_cast<unsigned int>(value));
    return 0;
}

int ms51_pse1_ctrl_write(int value) {
    send_command(kPse1CtrlPath, "%d\n", value);
    return 0;
}

int ms51_pse2_ctrl_write(int value) {
    send_command(kPse2CtrlPath, "%d\n", value);
    return 0;
}

int ms51_ups_ctrl_write(int value) {
    send_command(kUpsCtrlPath, "%d\n", value);
    return 0;
}

int ms51_leds_write(int index, int value) {
    send_command(kLedsPath, "%x %d\n", static_cast<unsigned int>(index), value);
    return 0;
}

// A null name is refused (-1), and so is a name that selects no output:
// nothing is written for either.
int ms51_poe_ctrl_write(const char *name, int value) {
    if (name == nullptr) {
        return -1;
    }
    if (strcmp(name, "POE_1") == 0) {
        return ms51_pse1_ctrl_write(value);
    }
    if (strcmp(name, "POE_2") == 0) {
        return ms51_pse2_ctrl_write(value);
    }
    return -1;
}

int ms51_ups_led_write(int value) {
    return ms51_leds_write(kUpsLedIndex, value);
}

int ms51_over_current_clear() {
    return ms51_over_current_write(kMs51OverCurrentReg, 0);
}

float mcu_adc_to_volts(unsigned int raw) {
    // The precision chain is part of the reading: the level boundary at 2.2 V
    // falls between counts 2730 and 2731 only with exactly these steps.
    const float scaled = static_cast<float>(raw) * (1.0f / 4096.0f);
    const double volts = static_cast<double>(scaled) * 3.3;
    return static_cast<float>(volts);
}

float i2c_mcu_get_adc(int channel) {
    unsigned int raw = 0;
    (void)ms51_adc_read(channel, &raw);
    const float volts = mcu_adc_to_volts(raw);
    powerbank_debug_log(kUnitCommon, "i2c_mcu_get_adc", __LINE__, "%x=%d   adc_value_tmp=%0.2f\n\n",
                        static_cast<unsigned int>(channel), static_cast<int>(raw),
                        static_cast<double>(volts));
    return volts;
}

int get_electric_level(float volts) {
    return static_cast<double>(volts) >= 2.2 ? 1 : 0;
}
