#include "hw/mcu.h"

// Not wired to the MCU driver yet: commands go nowhere and readings are 0.
int ms51_reg_write(int, int) {
    return 0;
}
int ms51_adc_read(int, unsigned int *) {
    return 0;
}
int ms51_over_current_read(int, int *) {
    return 0;
}
int ms51_over_current_write(int, int) {
    return 0;
}
int ms51_pse1_ctrl_write(int) {
    return 0;
}
int ms51_pse2_ctrl_write(int) {
    return 0;
}
int ms51_ups_ctrl_write(int) {
    return 0;
}
int ms51_leds_write(int, int) {
    return 0;
}
int ms51_poe_ctrl_write(const char *, int) {
    return 0;
}
int ms51_ups_led_write(int) {
    return 0;
}
int ms51_over_current_clear() {
    return 0;
}
int ms51_over_current_state_get(powerbank_state *) {
    return 0;
}
float mcu_adc_to_volts(unsigned int) {
    return 0.0f;
}
float i2c_mcu_get_adc(int) {
    return 0.0f;
}
int get_electric_level(float) {
    return 0;
}
