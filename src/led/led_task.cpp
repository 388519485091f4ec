#include "led/led_task.h"

// No LED thread and no LED step yet.
void powerbank_init_led_task() {}
void powerbank_led_process() {}
void powerbank_led_show(uint16_t, uint16_t, uint16_t, uint16_t) {}
int powerbank_set_powerbank_led(powerbank_state *) {
    return 0;
}
