// Programming of the MCU's power thresholds and over-current detection time at
// start-up. Selector 1 writes the setting's high byte, 0 its low byte.
#pragma once

int i2c_mcu_set_poe1_rated_power_threshold(int reg, int selector);
int i2c_mcu_set_poe2_rated_power_threshold(int reg, int selector);
int i2c_mcu_set_ups_rated_power_threshold(int reg, int selector);
int i2c_mcu_set_total_rated_power(int reg, int selector);
int i2c_mcu_set_over_current_detection_time(int reg);

// The nine register writes of start-up, 0xb2 first and 0xb6 last.
void i2c_mcu_init_threshold();
