#include "led/led_table.h"

led_entry led_table[2];

// LED files are not written yet; only the table is kept.
void powerbank_init_led_state() {
    for (int i = 0; i < 2; i++) {
        led_table[i].led_id.store(static_cast<uint16_t>(i + 1));
        led_table[i].led_value.store(2);
        led_table[i].led_mode.store(0);
        led_table[i].led_tick.store(0);
    }
}
void powerbank_close_all_led() {}
int powerbank_led_on(int, int) {
    return 0;
}
int powerbank_led_off(int) {
    return 0;
}
