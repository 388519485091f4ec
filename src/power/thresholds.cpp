#include "power/thresholds.h"

#include <stdint.h>
#include <stdlib.h>

#include "hw/mcu.h"
#include "store/store.h"

namespace {

constexpr int kSelectLow = 0;
constexpr int kSelectHigh = 1;

// A setting and the number the MCU gets when the setting is empty, zero or
// not a number. The numbers are passed through in the MCU's own units.
struct threshold_setting {
    const char *key;
    int fallback;
};

constexpr threshold_setting kPoe1 = {"DBID_POE1_THRESHOLD", 1500};      // bytes 5, 220
constexpr threshold_setting kPoe2 = {"DBID_POE2_THRESHOLD", 1500};      // bytes 5, 220
constexpr threshold_setting kUps = {"DBID_UPS_THRESHOLD", 2400};        // bytes 9, 96
constexpr threshold_setting kTotal = {"DBID_TOTAL_RATED_POWER", 4000};  // bytes 15, 160
constexpr threshold_setting kDetection = {"DBID_OVER_CURREN_DETECTION_TIME", 3};

// Bits 8..15 or 0..7 of the value's 32-bit two's-complement form, so -1
// gives 255 and 255.
int byte_of(int value, int selector) {
    uint32_t bits = static_cast<uint32_t>(value);
    return static_cast<int>(selector == kSelectHigh ? (bits >> 8) & 0xffu : bits & 0xffu);
}

// Reads the setting afresh and writes the selected byte into REG. Both bytes
// of a setting come from the same number, so a value is never partly
// defaulted. A selector other than 0 or 1 writes nothing and gives -1.
int write_threshold_byte(const threshold_setting &setting, int reg, int selector) {
    if (selector != kSelectHigh && selector != kSelectLow) {
        return -1;
    }
    char value[5] = {};
    dev_manager_cfg_get(setting.key, value);
    int threshold = atoi(value);
    if (value[0] == '\0' || threshold == 0) {
        threshold = setting.fallback;
    }
    (void)ms51_reg_write(reg, byte_of(threshold, selector));
    return 0;
}

}  // namespace

int i2c_mcu_set_poe1_rated_power_threshold(int reg, int selector) {
    return write_threshold_byte(kPoe1, reg, selector);
}

int i2c_mcu_set_poe2_rated_power_threshold(int reg, int selector) {
    return write_threshold_byte(kPoe2, reg, selector);
}

int i2c_mcu_set_ups_rated_power_threshold(int reg, int selector) {
    return write_threshold_byte(kUps, reg, selector);
}

int i2c_mcu_set_total_rated_power(int reg, int selector) {
    return write_threshold_byte(kTotal, reg, selector);
}

// The detection time has one register and only its low byte is written.
int i2c_mcu_set_over_current_detection_time(int reg) {
    return write_threshold_byte(kDetection, reg, kSelectLow);
}

void i2c_mcu_init_threshold() {
    // The output thresholds put their high byte into the lower register of
    // their pair; the total puts its high byte into 0xb7, above its low byte.
    (void)i2c_mcu_set_poe1_rated_power_threshold(0xb2, kSelectHigh);
    (void)i2c_mcu_set_poe1_rated_power_threshold(0xb3, kSelectLow);
    (void)i2c_mcu_set_poe2_rated_power_threshold(0xb4, kSelectHigh);
    (void)i2c_mcu_set_poe2_rated_power_threshold(0xb5, kSelectLow);
    (void)i2c_mcu_set_ups_rated_power_threshold(0xb0, kSelectHigh);
    (void)i2c_mcu_set_ups_rated_power_threshold(0xb1, kSelectLow);
    (void)i2c_mcu_set_over_current_detection_time(0xb8);
    (void)i2c_mcu_set_total_rated_power(0xb7, kSelectHigh);
    (void)i2c_mcu_set_total_rated_power(0xb6, kSelectLow);
}
