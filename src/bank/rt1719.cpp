#include "bank/rt1719.h"

// No detection yet: the ports stay as start-up left them.
int rt1719_reset(powerbank_state *) {
    return 0;
}
int rt1719_get_type(uint16_t, powerbank_state *) {
    return 0;
}
double rt1719_pdo_voltage(uint8_t, uint8_t, uint8_t) {
    return 0.0;
}
double rt1719_pdo_current(uint8_t, uint8_t) {
    return 0.0;
}
int rt1719_get_super_capacitor_charge_status() {
    return 0;
}
