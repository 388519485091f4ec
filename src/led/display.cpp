#include "led/display.h"

// No display states published yet.
int powebank_update_powerbank_display_state(powerbank_state *) {
    return 0;
}
