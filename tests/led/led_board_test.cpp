// The port LEDs and the display states of the real daemon on a simulated board,
// and the LED writes themselves through a probe. All times are virtual.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "probe/probe_run.h"

namespace {

using scenario::Board;
using scenario::JournalLine;

// Slow enough that the cost of a tick stays small against its 100 ms.
constexpr double kSpeed = 10;

// LED writes to usbcPORT from journal line FROM on.
std::vector<JournalLine> led_writes(const Board &b, int port, size_t from = 0) {
    std::vector<JournalLine> all = b.journal();
    std::vector<JournalLine> out;
    for (size_t i = from; i < all.size(); i++) {
        if (all[i].kind == "led" && all[i].name() == "usbc" + std::to_string(port) &&
            all[i].op() == "write") {
            out.push_back(all[i]);
        }
    }
    return out;
}

std::vector<std::string> values(const std::vector<JournalLine> &lines) {
    std::vector<std::string> v;
    for (const JournalLine &l : lines) {
        v.push_back(l.data());
    }
    return v;
}

// Median time between consecutive lines: robust against one late pass.
long long median_gap(const std::vector<JournalLine> &lines) {
    std::vector<long long> gaps;
    for (size_t i = 1; i < lines.size(); i++) {
        gaps.push_back(lines[i].ms - lines[i - 1].ms);
    }
    if (gaps.empty()) {
        return -1;
    }
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

// Waits until usbcPORT has had COUNT writes since journal line FROM.
std::vector<JournalLine> wait_led_writes(Board &b, int port, size_t count, size_t from) {
    b.wait_until([&] { return led_writes(b, port, from).size() >= count; }, 20000);
    return led_writes(b, port, from);
}

TEST(LedWrites, LedNumbersMustBeInTheTableAndValuesAreBareText) {
    Board b;
    // LED 1 is refused while the table is zero-filled; afterwards "0", "255"
    // and "1" go out as bare text, and a value of 2 opens without data.
    scenario::RunResult r =
        probe::run(b, {"led-off", "1", "led-init", "led-off", "1", "led-on", "1", "2", "led-on",
                       "0", "1", "led-on", "2", "1", "led-off", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> texts;
    for (const JournalLine &l : b.journal_find("led")) {
        texts.push_back(l.text);
    }
    EXPECT_EQ(texts,
              (std::vector<std::string>{"led usbc1 write 1 \"0\"", "led usbc2 write 3 \"255\"",
                                        "led usbc1 write 1 \"1\""}));
}

TEST(LedScenario, StartsOffThenShowsSteadyWhileCharging) {
    Board b;
    b.dc(true);
    b.bank(1, 20.0, 3.0);
    b.start_daemon(kSpeed);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "1", 20000)) << b.daemon_stderr();
    ASSERT_TRUE(b.wait_for_journal("sock powerbankserver send", 5000).has_value());

    // The LED thread ran on the zero-filled table before start-up gave it its
    // ids: the first LED writes are start-up's "0" to both LEDs, and no other
    // LED was ever written.
    std::vector<JournalLine> leds = b.journal_find("led");
    ASSERT_GE(leds.size(), 2u);
    EXPECT_EQ(leds[0].text, "led usbc1 write 1 \"0\"");
    EXPECT_EQ(leds[1].text, "led usbc2 write 1 \"0\"");
    for (const JournalLine &l : leds) {
        EXPECT_TRUE(l.name() == "usbc1" || l.name() == "usbc2") << l.text;
    }

    // Charging: a steady "1" written again once a pass; the empty port gets
    // "0" on every pass.
    const size_t from = b.journal().size();
    std::vector<JournalLine> port1 = wait_led_writes(b, 1, 6, from);
    std::vector<JournalLine> port2 = wait_led_writes(b, 2, 6, from);
    ASSERT_GE(port1.size(), 6u);
    ASSERT_GE(port2.size(), 6u);
    EXPECT_EQ(values(port1), std::vector<std::string>(port1.size(), "1"));
    EXPECT_EQ(values(port2), std::vector<std::string>(port2.size(), "0"));
    // About once a pass: one second plus the pass's own work. The bounds are
    // wide because a loaded host stretches virtual time.
    for (long long gap : {median_gap(port1), median_gap(port2)}) {
        EXPECT_GT(gap, 700);
        EXPECT_LT(gap, 1500);
    }
    EXPECT_TRUE(b.daemon_running());
}

// Checks that LINES alternate between ON and "0", about half a second each.
// REPEATS_ALLOWED: a pass that gives port 1 port 2's phase while the LED thread
// is between the two entries makes port 1 replay one tick, and so one write.
void expect_blinking(const std::vector<JournalLine> &lines, const std::string &on,
                     int repeats_allowed = 0) {
    ASSERT_GE(lines.size(), 8u);
    int repeats = 0;
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_TRUE(lines[i].data() == on || lines[i].data() == "0") << lines[i].text;
        if (i > 0 && lines[i].data() == lines[i - 1].data()) {
            repeats++;
        }
    }
    EXPECT_LE(repeats, repeats_allowed);
    const long long half = median_gap(lines);
    EXPECT_GT(half, 350);
    EXPECT_LT(half, 750);
}

TEST(LedScenario, OnBatteriesBlinksByPowerAndInStep) {
    Board b;
    b.dc(false);
    b.bank(2, 20.0, 3.25);  // 65 W
    b.start_daemon(kSpeed);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_2", "4", 20000)) << b.daemon_stderr();
    // The state is published before the pass's LED step: count from the
    // first "on" of the blink.
    ASSERT_TRUE(b.wait_for_journal("led usbc2 write 3 \"255\"", 5000));
    size_t from = b.journal().size();
    expect_blinking(wait_led_writes(b, 2, 8, from), "255");

    // A smaller bank found later on port 1 blinks "1", in port 2's phase
    // rather than in the phase its own off state left it.
    b.bank(1, 9.0, 2.0);  // 18 W
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "5", 30000));
    ASSERT_TRUE(b.wait_for_journal("led usbc1 write 1 \"1\"", 5000, from));
    from = b.journal().size();
    std::vector<JournalLine> port1 = wait_led_writes(b, 1, 12, from);
    std::vector<JournalLine> port2 = wait_led_writes(b, 2, 12, from);
    expect_blinking(port1, "1", 2);
    expect_blinking(port2, "255");
    // Both are written in the same tick, while ticks are at least 100 ms
    // apart. A pass that copies the phase while the LED thread is between the
    // two, or a host too busy to run the thread on, may spoil a pair or two.
    int unpaired = 0;
    for (const JournalLine &on1 : port1) {
        if (on1.data() == "1" &&
            std::none_of(port2.begin(), port2.end(), [&](const JournalLine &on2) {
                return on2.data() == "255" && std::llabs(on2.ms - on1.ms) < 100;
            })) {
            unpaired++;
        }
    }
    EXPECT_LE(unpaired, 2);
}

// Resets of the USB-PD controllers: GPIO 19 raised.
size_t resets_before(const Board &b, const std::string &until_prefix) {
    size_t n = 0;
    for (const JournalLine &l : b.journal()) {
        if (l.text.rfind(until_prefix, 0) == 0) {
            break;
        }
        if (l.kind == "gpio" && l.name() == "gpio19/value" && l.op() == "write" &&
            l.data().rfind("1", 0) == 0) {
            n++;
        }
    }
    return n;
}

TEST(DisplayScenario, OnBatteriesWithBothPortsEmptyLooksOnceMore) {
    const std::string batterychange =
        "sock powerbankserver send 38 \"type=SendStatFile\\r\\nmsg=batterychange\\r\\n\"";
    for (bool dc : {true, false}) {
        SCOPED_TRACE(dc ? "DC present" : "DC absent");
        Board b;
        b.dc(dc);
        b.start_daemon(kSpeed);
        ASSERT_TRUE(b.wait_for_journal(batterychange, 30000).has_value()) << b.daemon_stderr();
        EXPECT_EQ(resets_before(b, batterychange), dc ? 1u : 2u);
        EXPECT_EQ(b.status("powerbank_state_1"), "0");
        EXPECT_EQ(b.status("powerbank_state_2"), "0");
        EXPECT_EQ(b.status("powerbank1_voltage"), "0.00");
        EXPECT_EQ(b.status("powerbank2_electricity"), "0.00");

        // Every display update announces itself, changed or not.
        const size_t from = b.journal().size();
        b.dc(!dc);
        EXPECT_TRUE(b.wait_for_journal(batterychange, 30000, from).has_value());
    }
}

}  // namespace
