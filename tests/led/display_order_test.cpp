// The order of what the display update does, seen through stand-ins for its
// collaborators: the store, the message sender and the re-detection. This
// executable defines those functions itself, so the linker takes them instead
// of the daemon's own (see CMakeLists.txt).
#include <gtest/gtest.h>
#include <stddef.h>

#include <string>
#include <vector>

#include "core/display.h"
#include "core/state.h"
#include "led_fixture.h"

namespace {

std::vector<std::string> calls;
// What the next re-detection finds: connect states and types of both ports.
powerbank_state redetect_finds{};

}  // namespace

int dev_manager_cfg_get(const char *, char *value, size_t size) {
    if (size > 0) {
        value[0] = '\0';
    }
    return 0;
}

int dev_manager_status_set(const char *key, const char *value) {
    calls.push_back(std::string(key) + "=" + value);
    return 0;
}

int powerbank_inter_comm_sendstatfile_msg_send(const char *name) {
    calls.push_back(std::string("send ") + name);
    return 0;
}

int rt1719_reset(powerbank_state *state) {
    calls.push_back("reset");
    state->powerbank1_current_connect_state = redetect_finds.powerbank1_current_connect_state;
    state->powerbank1_type = redetect_finds.powerbank1_type;
    state->powerbank2_current_connect_state = redetect_finds.powerbank2_current_connect_state;
    state->powerbank2_type = redetect_finds.powerbank2_type;
    return 0;
}

namespace {

using Calls = std::vector<std::string>;

// The measurements and the announcement that end every call.
const Calls tail = {"powerbank1_voltage=0.00", "powerbank2_voltage=0.00",
                    "powerbank1_electricity=0.00", "powerbank2_electricity=0.00",
                    "send batterychange"};

Calls concat(Calls a, const Calls &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(DisplayOrder, ReDetectsOnlyOnBatteriesWithBothPortsEmptyThenPublishesInOrder) {
    struct Case {
        const char *what;
        powerbank_state state, finds;
        Calls expected;
    } cases[] = {
        {"DC absent, both empty, a 60 W bank found", make_state(0, 0, 0, 0, 0),
         make_state(0, 1, 1, 0, 0),
         concat({"reset", "powerbank_state_1=4", "powerbank_state_2=0"}, tail)},
        {"DC unknown counts as absent", make_state(-1, 0, 0, 0, 0), make_state(-1, 0, 0, 1, 2),
         concat({"reset", "powerbank_state_1=0", "powerbank_state_2=5"}, tail)},
        {"DC present, both empty: no reset", make_state(1, 0, 0, 0, 0), make_state(1, 1, 1, 1, 1),
         concat({"powerbank_state_1=0", "powerbank_state_2=0"}, tail)},
        {"DC absent, port 2 undetected: no reset, no state for port 2", make_state(0, 0, 0, -1, 0),
         make_state(0, 1, 1, 1, 1), concat({"powerbank_state_1=0"}, tail)},
        {"DC present, port 1 attached with no usable type: no state for it",
         make_state(1, 1, 0, 0, 0), make_state(1, 0, 0, 0, 0),
         concat({"powerbank_state_2=0"}, tail)},
        {"DC absent, a bank on port 2: no reset", make_state(0, 0, 0, 1, 1),
         make_state(0, 0, 0, 0, 0), concat({"powerbank_state_1=0", "powerbank_state_2=4"}, tail)},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        calls.clear();
        redetect_finds = c.finds;
        EXPECT_EQ(powebank_update_powerbank_display_state(&c.state), 0);
        EXPECT_EQ(calls, c.expected);
    }
}

TEST(DisplayOrder, MeasurementsHaveTwoDecimalsInNineCharacters) {
    powerbank_state s = make_state(1, 1, 1, 1, 2);
    s.powerbank1_voltage = 20.0;
    s.powerbank2_voltage = 5.0;
    s.powerbank1_electricity = 3.25;
    s.powerbank2_electricity = 123456789.0;  // cut to the buffer
    calls.clear();
    (void)powebank_update_powerbank_display_state(&s);
    EXPECT_EQ(calls,
              (Calls{"powerbank_state_1=1", "powerbank_state_2=2", "powerbank1_voltage=20.00",
                     "powerbank2_voltage=5.00", "powerbank1_electricity=3.25",
                     "powerbank2_electricity=123456789", "send batterychange"}));
    EXPECT_EQ(powebank_update_powerbank_display_state(nullptr), -1);
}

}  // namespace
