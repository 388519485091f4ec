// The MS51 MCU, reached through its kernel driver's sysfs attribute files:
// one short text command per access, sometimes one number read back.
#pragma once

// The over-current register, read by the over-current step and cleared by the policy.
inline constexpr int kMs51OverCurrentReg = 0xa9;

int ms51_reg_write(int reg, int value);
int ms51_adc_read(int channel, unsigned int *raw);
int ms51_over_current_read(int reg, int *value);
int ms51_over_current_write(int reg, int value);
int ms51_pse1_ctrl_write(int value);
int ms51_pse2_ctrl_write(int value);
int ms51_ups_ctrl_write(int value);
int ms51_leds_write(int index, int value);

// "POE_1" or "POE_2" (exact); any other name, or null, writes nothing.
int ms51_poe_ctrl_write(const char *name, int value);
int ms51_ups_led_write(int value);
int ms51_over_current_clear();

// Volts for a raw ADC count: count * (1/4096 in single precision), widened,
// * 3.3, rounded back to single precision.
float mcu_adc_to_volts(unsigned int raw);
// One ADC reading in volts; 0.0 when the channel cannot be read.
float i2c_mcu_get_adc(int channel);
// 1 when VOLTS (widened) >= 2.2, else 0.
int get_electric_level(float volts);
