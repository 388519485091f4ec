#include "bank/cc_watch.h"

#include "core/state.h"

// No CC watch yet: only a DC change asks for a re-detection.
int cc_state_is_change(powerbank_state *) {
    return 0;
}
int is_electric_quantity_equal_0(powerbank_state *) {
    return 0;
}
int dc_or_cc_state_is_change(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    return state->dc_last_state != state->dc_current_state ? 1 : 0;
}
