#include "power/policy.h"

// No output policy yet: the outputs stay as the MCU left them.
int powerbank_set_each_poe(powerbank_state *, const char *, const char *) {
    return 0;
}
int powerbank_set_each_ups(powerbank_state *, const char *) {
    return 0;
}
void powerbank_set_poe_ups(powerbank_state *) {}
