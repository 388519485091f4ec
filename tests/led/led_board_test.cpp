// The port LEDs of the real daemon on a simulated board, from start-up
// through charging and supplying to banks taken out while on batteries. What
// the daemon does on each pass is counted between its DC samples; times are
// the journal's, and only ever a lower bound: a loaded machine stretches them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness/scenario.h"

namespace {

using scenario::Board;
using scenario::JournalLine;
using Lines = std::vector<JournalLine>;

// Slow enough that the cost of a tick stays small against its 100 ms.
constexpr double kSpeed = 10;

bool led_write(const JournalLine &l, int port) {
    return l.kind == "led" && l.name() == "usbc" + std::to_string(port) && l.op() == "write";
}

// The writes to LED PORT from journal line FROM on, once there are COUNT.
Lines led_writes(Board &b, int port, size_t from, size_t count) {
    Lines out;
    b.wait_until(
        [&] {
            out.clear();
            const Lines all = b.journal();
            for (size_t i = from; i < all.size(); i++) {
                if (led_write(all[i], port)) {
                    out.push_back(all[i]);
                }
            }
            return out.size() >= count;
        },
        20000);
    EXPECT_GE(out.size(), count) << "port " << port;
    return out;
}

// The LED data written to PORT in each of the first N whole passes (from one
// DC sample to the next) after journal line FROM, once there are N.
std::vector<std::vector<std::string>> per_pass(Board &b, int port, size_t from, size_t n) {
    std::vector<std::vector<std::string>> passes;
    b.wait_until(
        [&] {
            passes.clear();
            const Lines all = b.journal();
            for (size_t i = from; i < all.size() && passes.size() <= n; i++) {
                if (all[i].name() == "gpio25/value" && all[i].op() == "read") {
                    passes.emplace_back();
                } else if (!passes.empty() && led_write(all[i], port)) {
                    passes.back().push_back(all[i].data());
                }
            }
            return passes.size() > n;  // the Nth pass is over
        },
        static_cast<long long>(n + 1) * 5000);
    EXPECT_GT(passes.size(), n) << "port " << port;
    passes.resize(std::min(passes.size(), n));
    return passes;
}

// LINES alternate between ON and "0", each half of the blink at least 500 ms
// (five 100 ms ticks; a loaded machine may only make it longer). REPEATS: a
// pass that gives port 1 port 2's phase while the LED thread is between the
// two entries makes port 1 replay one tick, and so one write (and a short gap).
void expect_blinking(const Lines &lines, const std::string &on, int repeats = 0) {
    int repeated = 0;
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_TRUE(lines[i].data() == on || lines[i].data() == "0") << lines[i].text;
        if (i > 0) {
            repeated += lines[i].data() == lines[i - 1].data();
            EXPECT_TRUE(repeats > 0 || lines[i].ms - lines[i - 1].ms >= 495) << lines[i].text;
        }
    }
    EXPECT_LE(repeated, repeats);
}

TEST(LedScenario, StartChargingSupplyingInStepAndBanksTakenOutOnBatteries) {
    Board b;
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    // On batteries the ports are looked at every second pass.
    b.set_config("DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", "1");
    b.set_config("DBID_POWERBANK_DEBUG", "1");
    b.dc(true);
    b.bank(1, 20.0, 3.0);
    b.start_daemon(kSpeed);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "1", 20000)) << b.daemon_stderr();

    // The LED thread ran on the zero-filled table before start-up gave it its
    // ids: the first LED writes are start-up's "0" to both LEDs.
    const Lines leds = b.journal_find("led");
    ASSERT_GE(leds.size(), 2u);
    EXPECT_EQ(leds[0].text, "led usbc1 write 1 \"0\"");
    EXPECT_EQ(leds[1].text, "led usbc2 write 1 \"0\"");

    // Charging: a steady "1", written again after each pass restarted the
    // tick (a thread held up may play two restarts as one); the empty port
    // gets "0" from every pass itself.
    size_t from = b.journal().size();
    for (const auto &pass : per_pass(b, 2, from, 4)) {
        EXPECT_EQ(pass, std::vector<std::string>{"0"});
    }
    size_t steady = 0;
    for (const auto &pass : per_pass(b, 1, from, 4)) {
        steady += pass.size();
        EXPECT_TRUE(std::all_of(pass.begin(), pass.end(), [](auto &d) { return d == "1"; }));
    }
    EXPECT_GE(steady, 2u);
    EXPECT_LE(steady, 5u);

    // On batteries the 60 W bank blinks "255". The state is published before
    // the pass's LED step: count from the first "on" of the blink.
    b.dc(false);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "4", 20000)) << b.daemon_stderr();
    ASSERT_TRUE(b.wait_for_journal("led usbc1 write 3 \"255\"", 5000));
    from = b.journal().size();
    expect_blinking(led_writes(b, 1, from, 8), "255");

    // A smaller bank found later on port 2 blinks "1", and port 1 blinks on in
    // its phase (which pass copies it is the step's own test).
    b.bank(2, 9.0, 2.0);  // 18 W
    ASSERT_TRUE(b.wait_for_status("powerbank_state_2", "5", 30000));
    ASSERT_TRUE(b.wait_for_journal("led usbc2 write 1 \"1\"", 5000, from));
    from = b.journal().size();
    expect_blinking(led_writes(b, 1, from, 12), "255", 2);
    expect_blinking(led_writes(b, 2, from, 12), "1");

    // Port 2's bank taken out: its state "0" and, on every pass after the one
    // that found it gone, one "0" to its LED and nothing else, while port 1
    // blinks on. Then port 1's: both LEDs get only their "0" of each pass.
    b.bank_none(2);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_2", "0", 20000));
    from = b.journal().size();
    for (const auto &pass : per_pass(b, 2, from, 4)) {
        EXPECT_EQ(pass, std::vector<std::string>{"0"});
    }
    expect_blinking(led_writes(b, 1, from, 6), "255");
    b.bank_none(1);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "0", 20000));
    from = b.journal().size();
    for (int port : {1, 2}) {
        for (const auto &pass : per_pass(b, port, from, 4)) {
            EXPECT_EQ(pass, std::vector<std::string>{"0"}) << "port " << port;
        }
    }
    // What the step, the display update and the periodic re-detection said.
    for (const char *line : {" :  powerbank1 65W discharge\n\n",
                             " :  powerbank2 no 65W discharge\n\n", " :  powerbank2 off\n\n",
                             "connect_state=1  bstate->powerbank2_current_connect_state=0\n\n",
                             "powerbank->main()->line.695 : powerbank1_last_connect_state=1  "
                             "powerbank1_current_connect_state=1\n\n",
                             "powerbank->main()->line.696 : powerbank2_last_connect_state=0  "
                             "powerbank2_current_connect_state=0\n\n"}) {
        EXPECT_NE(b.daemon_stderr().find(line), std::string::npos) << line;
    }
}

}  // namespace
