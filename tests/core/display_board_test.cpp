// The display update on a simulated board, through the probe: when it looks
// for banks once more, what it publishes in the store, and its announcement.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "probe/probe_run.h"

namespace {

using scenario::Board;

TEST(DisplayOnBoard, LooksAgainOnlyOnBatteriesWithBothPortsEmptyThenPublishes) {
    struct {
        const char *what;
        const char *record;           // DC,C1,T1,C2,T2 before the update
        bool reset;                   // the ports are typed again
        const char *state1, *state2;  // the published display states, "" for none
    } cases[] = {
        {"DC absent, both empty, a 60 W bank found", "0,0,0,0,0", true, "4", "0"},
        {"DC unknown counts as absent", "-1,0,0,0,0", true, "4", "0"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Board b;
        b.bank(1, 20.0, 3.0);
        // The announcement comes last, when the values are in the store.
        EXPECT_EQ(probe::run(b, {"listen", "display", c.record, "drain"}).out,
                  "rc=0\ndgram 38 type=SendStatFile\\r\\nmsg=batterychange\\r\\n\n");
        EXPECT_EQ(b.journal_find("i2c").empty(), !c.reset);
        EXPECT_EQ(b.status("powerbank_state_1").value_or(""), c.state1);
        EXPECT_EQ(b.status("powerbank_state_2").value_or(""), c.state2);
        EXPECT_EQ(b.status("powerbank1_voltage"), c.reset ? "20.00" : "0.00");
    }
}

}  // namespace
