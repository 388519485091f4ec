// The port LEDs of the real daemon on a simulated board. All times are virtual.
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

// The writes to LED usbcPORT from journal line FROM on, once there are COUNT.
Lines led_writes(Board &b, int port, size_t from, size_t count) {
    Lines out;
    b.wait_until(
        [&] {
            out.clear();
            const Lines all = b.journal();
            for (size_t i = from; i < all.size(); i++) {
                if (all[i].text.rfind("led usbc" + std::to_string(port) + " write", 0) == 0) {
                    out.push_back(all[i]);
                }
            }
            return out.size() >= count;
        },
        20000);
    EXPECT_GE(out.size(), count) << "port " << port;
    return out;
}

// Median time between consecutive lines: robust against one late pass.
long long median_gap(const Lines &lines) {
    std::vector<long long> gaps;
    for (size_t i = 1; i < lines.size(); i++) {
        gaps.push_back(lines[i].ms - lines[i - 1].ms);
    }
    if (gaps.empty()) {
        return 0;
    }
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    return gaps[gaps.size() / 2];
}

// Checks that LINES alternate between ON and "0", about half a second each.
// REPEATS_ALLOWED: a pass that gives port 1 port 2's phase while the LED thread
// is between the two entries makes port 1 replay one tick, and so one write.
void expect_blinking(const Lines &lines, const std::string &on, int repeats_allowed = 0) {
    int repeats = 0;
    for (size_t i = 0; i < lines.size(); i++) {
        EXPECT_TRUE(lines[i].data() == on || lines[i].data() == "0") << lines[i].text;
        repeats += i > 0 && lines[i].data() == lines[i - 1].data();
    }
    EXPECT_LE(repeats, repeats_allowed);
    EXPECT_GT(median_gap(lines), 350);
    EXPECT_LT(median_gap(lines), 750);
}

TEST(LedScenario, OffAtStartSteadyWhileChargingThenBlinkingByPowerInStep) {
    Board b;
    b.dc(true);
    b.bank(1, 20.0, 3.0);
    b.start_daemon(kSpeed);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "1", 20000)) << b.daemon_stderr();
    ASSERT_TRUE(b.wait_for_journal("sock powerbankserver send", 20000).has_value());

    // The LED thread ran on the zero-filled table before start-up gave it its
    // ids: the first LED writes are start-up's "0" to both LEDs, and no other
    // LED was ever written.
    const Lines leds = b.journal_find("led");
    ASSERT_GE(leds.size(), 2u);
    EXPECT_EQ(leds[0].text, "led usbc1 write 1 \"0\"");
    EXPECT_EQ(leds[1].text, "led usbc2 write 1 \"0\"");
    for (const JournalLine &l : leds) {
        EXPECT_TRUE(l.name() == "usbc1" || l.name() == "usbc2") << l.text;
    }

    // Charging: a steady "1" written again once a pass (one second plus the
    // pass's own work; wide bounds, a loaded host stretches virtual time);
    // the empty port gets "0" on every pass.
    size_t from = b.journal().size();
    for (auto [port, value] : {std::pair{1, "1"}, {2, "0"}}) {
        const Lines writes = led_writes(b, port, from, 6);
        for (const JournalLine &l : writes) {
            EXPECT_EQ(l.data(), value) << l.text;
        }
        EXPECT_GT(median_gap(writes), 700);
        EXPECT_LT(median_gap(writes), 2000);
    }

    // On batteries the 60 W bank blinks "255". The state is published before
    // the pass's LED step: count from the first "on" of the blink.
    b.dc(false);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "4", 20000)) << b.daemon_stderr();
    ASSERT_TRUE(b.wait_for_journal("led usbc1 write 3 \"255\"", 5000));
    from = b.journal().size();
    expect_blinking(led_writes(b, 1, from, 8), "255");

    // A smaller bank found later on port 2 blinks "1", and port 1 takes its
    // phase rather than keeping its own.
    b.bank(2, 9.0, 2.0);  // 18 W
    ASSERT_TRUE(b.wait_for_status("powerbank_state_2", "5", 30000));
    ASSERT_TRUE(b.wait_for_journal("led usbc2 write 1 \"1\"", 5000, from));
    from = b.journal().size();
    const Lines port1 = led_writes(b, 1, from, 12);
    const Lines port2 = led_writes(b, 2, from, 12);
    expect_blinking(port1, "255", 2);
    expect_blinking(port2, "1");
    // Both are written in the same tick, while ticks are at least 100 ms
    // apart. A pass that copies the phase while the LED thread is between the
    // two, or a host too busy to run the thread on, may spoil a pair or two.
    int unpaired = 0;
    for (const JournalLine &on2 : port2) {
        unpaired += on2.data() == "1" &&
                    std::none_of(port1.begin(), port1.end(), [&](const JournalLine &on1) {
                        return on1.data() == "255" && std::llabs(on2.ms - on1.ms) < 100;
                    });
    }
    EXPECT_LE(unpaired, 2);
}

}  // namespace
