#include "power/over_current.h"

// No over-current supervision yet: nothing is measured or published.
int powerbank_set_poe_ups_state(powerbank_state *) {
    return 0;
}
