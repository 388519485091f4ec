#include "power/thresholds.h"

// No threshold programming yet: the MCU keeps its own thresholds.
int i2c_mcu_set_poe1_rated_power_threshold(int, int) {
    return 0;
}
int i2c_mcu_set_poe2_rated_power_threshold(int, int) {
    return 0;
}
int i2c_mcu_set_ups_rated_power_threshold(int, int) {
    return 0;
}
int i2c_mcu_set_total_rated_power(int, int) {
    return 0;
}
int i2c_mcu_set_over_current_detection_time(int) {
    return 0;
}
void i2c_mcu_init_threshold() {}
