// Start-up values of the state record and the settings read at start-up.
#include <gtest/gtest.h>

#include <fstream>

#include "base/log.h"
#include "core/control_loop.h"
#include "core/state.h"
#include "temp_store.h"

namespace {

void set_config(const TempStore &store, const char *key, const char *value) {
    std::ofstream(store.config() + "/" + key) << value;
}

TEST(InitState, DcDisconnectLimitFollowsTheStore) {
    struct {
        const char *value;  // nullptr: key absent
        int limit;
    } cases[] = {
        {nullptr, 10}, {"", 10},   {"0", 10}, {"1", 1},   {"30", 30}, {"31", 10},
        {"100", 10},   {"-5", -5}, {"7x", 7}, {"x7", 10}, {" 4", 4},  {"00007", 10},
    };
    for (const auto &c : cases) {
        TempStore store;
        if (c.value != nullptr) {
            set_config(store, "DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", c.value);
        }
        powerbank_state state;
        memset(&state, 0x5a, sizeof state);
        ASSERT_EQ(powerbank_init_state(&state), 0);
        EXPECT_EQ(state.powerbank_run_time_in_dc_disconnect_max, c.limit)
            << "value \"" << (c.value ? c.value : "(absent)") << "\"";
    }
}

// A value too long for the two-byte buffer is no value at all: "10" is not "1".
TEST(DebugSetting, OnlyTheTextOneTurnsDebugOn) {
    struct {
        const char *value;
        int debug;
    } cases[] = {{nullptr, 0}, {"1", 1}, {"1\n", 1}, {"0", 0}, {"2", 0}, {"", 0}, {"10", 0}};
    for (const auto &c : cases) {
        TempStore store;
        if (c.value != nullptr) {
            set_config(store, "DBID_POWERBANK_DEBUG", c.value);
        }
        powerbank_debug = 7;
        powerbank_read_debug_setting();
        EXPECT_EQ(powerbank_debug, c.debug)
            << "value \"" << (c.value ? c.value : "(absent)") << "\"";
    }
    powerbank_debug = 0;
}

}  // namespace
