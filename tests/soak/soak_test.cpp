// A soak of the real daemon on the simulated board with the bus stand-in:
// seeded random changes for a real-time budget (DC flips, banks coming and
// going, CC glitches, over-current bits, mode changes, bus restarts, hardware
// faults each cleared again), checked by invariants rather than traces. The
// daemon lives on; every DC change is announced, and reaches the bus as
// "dcchange" while the bus is up; after a last re-detection the status values
// and outputs match the board; its descriptors and threads are those it had
// after start-up.
//
// The seed is printed; POWERBANK_SOAK_SEED=N replays its changes (the daemon's
// timing may differ), POWERBANK_SOAK_SECONDS sets the budget (default 40).
#include <gtest/gtest.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "harness/scenario.h"

namespace {

using scenario::Board;

// Fast enough for hours of virtual time in the budget. The deadline of an
// awaited pass or event is generous (9 s of real time): a sanitized, emulated
// or loaded daemon's own work stretches a pass, and that counts in virtual time.
constexpr double kSpeed = 200;
constexpr long long kPassMs = 30 * 60 * 1000;

struct Bank {
    double volts, amps;  // volts 0: nothing on the port
};
// Under 10 W, from 10 W, from exactly 60 W; all exact in the capability's units.
const Bank kBanks[] = {{0, 0}, {5, 1.5}, {5, 3}, {9, 2}, {15, 3}, {20, 3}, {20, 4.5}};
const char *const kModeKeys[] = {"DBID_POE1_ENABLE", "DBID_POE2_ENABLE", "DBID_UPS_ENABLE"};
const char *const kModes[] = {"1", "2", "3", ""};
// Faults on GPIO 25's direction are left out: the passes are counted by its
// writes, and one that falls inside a reset leaves the line an output while it
// lasts, so what the daemon samples for DC would hang on timing.
// clang-format off
const char *const kFaults[] = {
    "eio-read gpio25/value", "missing gpio25/value", "eio-read ms51_adc", "eio-write ms51_adc",
    "eio-read ms51_over_current", "eio-write ms51_ups_ctrl", "eio-write ms51_pse1_ctrl",
    "missing mcu", "missing ms51_leds", "eio-write usbc1", "missing usbc2", "eio-write gpio19/value",
    "missing i2c-0", "silent 43", "silent 40"};
// clang-format on

// The names in a /proc directory, or with TARGETS where its links lead, sorted;
// "socket:[N]", "pipe:[N]" and "anon_inode:[...]" without what is in brackets
// (every bus connection makes new sockets, their numbers in any order), and a
// file without " (deleted)" (ctest renames the log its tests inherit).
std::vector<std::string> listing(const std::string &dir, bool targets) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
        const std::string t =
            (targets ? std::filesystem::read_symlink(e, ec) : e.path().filename());
        out.push_back(t.substr(0, std::min(t.find(":["), t.find(" (deleted)"))));
    }
    std::sort(out.begin(), out.end());
    return out;
}

class Soak : public testing::Test {
public:
    // Reads what the journal gained since the last poll (a soak's journal grows
    // to megabytes) and counts what it shows.
    void poll() {
        std::ifstream in(b_.path("journal"), std::ios::binary);
        in.seekg(offset_);
        // A line not yet whole is read again on the next poll.
        for (std::string line; std::getline(in, line) && !in.eof(); offset_ = in.tellg()) {
            for (const scenario::JournalLine &l : scenario::parse_journal(line + "\n")) {
                last_ms_ = l.ms;
                if (l.kind == "sock" && l.data() == "type=SendStatFile\r\nmsg=dcchange\r\n") {
                    dc_sent_++;
                    dc_failed_ += !l.tag("err").empty();
                    battery_since_dc_ = 0;
                } else if (l.kind == "sock" &&
                           l.data() == "type=SendStatFile\r\nmsg=batterychange\r\n") {
                    battery_since_dc_++;
                }
            }
        }
    }

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    __attribute__((format(printf, 3, 4))) void note(const char *kind, const char *fmt, ...) {
        char what[128];
        va_list ap;
        va_start(ap, fmt);
        vsnprintf(what, sizeof what, fmt, ap);
        va_end(ap);
        done_[kind]++;
        recent_.push_back(what);
        if (recent_.size() > 12) {
            recent_.pop_front();
        }
    }
    bool fail(const std::string &why) {
        std::string last;
        for (const std::string &s : recent_) {
            last += "\n  " + s;
        }
        ADD_FAILURE() << why << " (seed " << seed_ << "); the last changes:" << last;
        return false;
    }
    // Waits for COND with the journal polled; false, and a failure saying WHY,
    // when it does not come or the daemon dies.
    bool wait(const std::function<bool()> &cond, long long virtual_ms, const std::string &why) {
        const bool held = b_.wait_until(
            [&] {
                poll();
                return cond() || !b_.daemon_running();
            },
            virtual_ms);
        return b_.daemon_running() ? held || fail(why)
                                   : fail("the daemon died:\n" + b_.daemon_stderr());
    }
    bool passes(long n) {
        const long target = b_.passes() + n;
        return wait([&] { return b_.passes() >= target; }, n * kPassMs, "the passes stopped");
    }
    size_t dc_events() const {
        const std::string events = b_.bus_events();
        size_t n = 0;
        for (size_t p = 0; (p = events.find("\"msg\":\"dcchange\"", p)) != std::string::npos; ++p) {
            ++n;
        }
        return n;
    }
    // What the daemon samples for DC: an unreadable value is absent, a missing
    // one unknown.
    int dc_seen() const {
        return fault_ == "eio-read gpio25/value" ? 0 : fault_ == "missing gpio25/value" ? -1 : dc_;
    }

    // Runs ACT; when it changes what the daemon samples for DC, the pass that
    // samples it must announce it, and while the bus is up the event must reach
    // the bus. The change is waited for, so two never fall into one pass.
    bool change(const std::function<void()> &act) {
        poll();
        const int before = dc_seen();
        const long sent = dc_sent_, failed = dc_failed_;
        act();
        if (dc_seen() == before) {
            return true;
        }
        dc_changes_++;
        if (!wait([&] { return dc_sent_ > sent; }, kPassMs, "a DC change was not announced")) {
            return false;
        }
        if (!bus_up_) {
            return true;
        }
        session_events_++;
        if (dc_failed_ > failed) {
            return fail("\"dcchange\" found no broker socket while the bus was up");
        }
        return wait([&] { return dc_events() >= session_events_; }, kPassMs,
                    "\"dcchange\" did not reach the bus");
    }

    bool flip_dc() {
        note("dc", "dc %d", !dc_);
        return change([&] { b_.dc((dc_ = !dc_) != 0); });
    }
    // The CC lines of a port: CC1 high while a bank is on it.
    void steady_cc(int port) { b_.cc(port, banks_[port - 1].volts != 0 ? 3.0 : 0, 0); }
    bool swap_bank() {
        const int port = 1 + pick(2);
        const Bank &k = banks_[port - 1] = kBanks[pick(std::size(kBanks))];
        note("bank", "bank %d %g V %g A", port, k.volts, k.amps);
        k.volts == 0 ? b_.bank_none(port) : b_.bank(port, k.volts, k.amps);
        steady_cc(port);
        return true;
    }
    bool cc_glitch() {
        const int port = 1 + pick(2), hold = pick(3);
        const double levels[] = {0, 1.0, 2.2, 3.3}, cc1 = levels[pick(4)], cc2 = levels[pick(4)];
        note("cc", "cc %d %g %g for %d passes", port, cc1, cc2, hold);
        b_.cc(port, cc1, cc2);
        const bool ok = passes(hold);
        steady_cc(port);
        return ok;
    }
    bool set_oc() {
        const int bits = pick(256);
        note("oc", "oc %d", bits);
        b_.oc(bits);
        return true;
    }
    bool set_mode() {
        const int k = pick(3);
        modes_[k] = kModes[pick(4)];
        note("mode", "%s=%s", kModeKeys[k], modes_[k].c_str());
        b_.set_config(kModeKeys[k], modes_[k]);
        return true;
    }
    bool inject_fault() {
        const std::string f = kFaults[pick(std::size(kFaults))];
        const std::string kind = f.substr(0, f.find(' ')), target = f.substr(f.find(' ') + 1);
        const int hold = 1 + pick(5);
        note("fault", "fault %s for %d passes", f.c_str(), hold);
        const auto set = [&](std::vector<std::string> args, const std::string &now) {
            return change([&] { b_.fault(args), fault_ = now; });
        };
        return set({kind, target}, f) && passes(hold) && set({"clear", kind, target}, "");
    }
    // The bus goes away, DC may change meanwhile (announced, the events lost),
    // and a fresh bus and listener come up.
    bool restart_bus() {
        note("bus", "bus restart");
        if (dc_events() != session_events_) {
            return fail("more \"dcchange\" events than DC changes");
        }
        b_.stop_bus();
        bus_up_ = false;
        for (int i = pick(3); i > 0; --i) {
            if (!(pick(2) != 0 ? flip_dc() : passes(1 + pick(3)))) {
                return false;
            }
        }
        session_events_ = 0;
        return (b_.start_bus() && b_.start_bus_listener()) ? bus_serving()
                                                           : fail("the bus did not come up");
    }
    // The bus counts as up, and DC changes must reach it, once the broker's
    // object is on this bus (the broker binds its local socket before it adds
    // the object) and a pass has gone by. Before that they are lost by design:
    // the broker makes its socket anew on every connection.
    bool bus_serving() {
        bus_up_ = wait([&] { return broker_listed(); }, kPassMs, "the broker is not on the bus") &&
                  passes(1);
        return bus_up_;
    }
    bool broker_listed() const {
        return b_.bus_call({"list", "powerbank_broker"}).out.find("powerbank_broker") !=
               std::string::npos;
    }

    Board b_;
    unsigned long seed_ = 0;
    std::mt19937 rng_;
    // What the journal showed.
    std::streamoff offset_ = 0;
    long long last_ms_ = 0;
    long dc_sent_ = 0, dc_failed_ = 0;  // "dcchange" datagrams, and those whose send failed
    long battery_since_dc_ = 0;         // "batterychange" datagrams since the last "dcchange"
    // What the test did.
    int dc_ = 1;
    Bank banks_[2] = {};
    std::string modes_[3];
    std::string fault_;
    bool bus_up_ = false;
    size_t session_events_ = 0;  // DC changes the current listener must have seen
    long dc_changes_ = 0;
    std::map<std::string, int> done_;
    std::deque<std::string> recent_;
};

TEST_F(Soak, RandomChangesKeepTheDaemonWhole) {
    if (!Board::bus_available()) {
        GTEST_SKIP() << "no bus stand-in built";
    }
    const char *seed = getenv("POWERBANK_SOAK_SEED");
    rng_.seed(seed_ = seed != nullptr ? strtoul(seed, nullptr, 10) : std::random_device{}());
    printf("soak: seed %lu (POWERBANK_SOAK_SEED=%lu replays it)\n", seed_, seed_);
    fflush(stdout);
    b_.set_config("DBID_POE_AND_UPS_SET_DElAY", "100000");
    for (int k = 0; k < 3; ++k) {
        b_.set_config(kModeKeys[k], modes_[k] = kModes[pick(4)]);
    }
    b_.set_config("DBID_POWERBANK_DEBUG", pick(2) != 0 ? "1" : "0");
    ASSERT_TRUE(b_.start_bus());
    b_.start_daemon(kSpeed);
    // Settled: the first re-detection done (its "dcchange" is lost by design:
    // the broker binds its socket only once it is on the bus) and the broker on
    // the bus. A hardware file is open for one access at a time, so the
    // smallest of a few snapshots, a few passes apart (a loaded machine may
    // hold the daemon up with a file open), is its standing set of descriptors.
    ASSERT_TRUE(wait([&] { return battery_since_dc_ > 0 && broker_listed(); }, kPassMs,
                     "the daemon did not settle") &&
                passes(2));
    const std::string proc = "/proc/" + std::to_string(b_.daemon_pid());
    std::vector<std::string> fds = listing(proc + "/fd", true);
    for (int i = 0; i < 50; ++i) {
        const std::vector<std::string> now = listing(proc + "/fd", true);
        fds = now.size() < fds.size() ? now : fds;
        usleep(2000);
    }
    // The same threads by id at the end: none died, none was started again.
    const std::vector<std::string> threads = listing(proc + "/task", false);
    ASSERT_TRUE(b_.start_bus_listener() && bus_serving());

    // Changes drawn by weight: DC 4, banks 3, CC 2, faults 2, the rest 1.
    bool (Soak::*const acts[])() = {&Soak::flip_dc,      &Soak::flip_dc,      &Soak::flip_dc,
                                    &Soak::flip_dc,      &Soak::swap_bank,    &Soak::swap_bank,
                                    &Soak::swap_bank,    &Soak::cc_glitch,    &Soak::cc_glitch,
                                    &Soak::inject_fault, &Soak::inject_fault, &Soak::set_oc,
                                    &Soak::set_mode,     &Soak::restart_bus};
    const char *budget = getenv("POWERBANK_SOAK_SECONDS");
    const time_t start = time(nullptr), end = start + (budget != nullptr ? atol(budget) : 40);
    while (time(nullptr) < end && (this->*acts[pick(std::size(acts))])() && passes(1 + pick(20))) {
    }
    std::string counts;
    for (const auto &[kind, n] : done_) {
        counts += " " + kind + " " + std::to_string(n);
    }
    printf("soak: %.2f virtual hours, %ld passes in %ld s; changes:%s; %ld DC changes\n",
           last_ms_ / 3.6e6, b_.passes(), static_cast<long>(time(nullptr) - start), counts.c_str(),
           dc_changes_);
    if (HasFailure()) {
        return;
    }

    // A last DC change re-detects both ports and applies the policy to the
    // board as it is now.
    ASSERT_TRUE(flip_dc() &&
                wait([&] { return battery_since_dc_ > 0; }, kPassMs, "no re-detection"));
    bool big = false;
    for (int port = 1; port <= 2; ++port) {
        const Bank &k = banks_[port - 1];
        const int type = k.volts * k.amps >= 60 ? 1 : k.volts * k.amps >= 10 ? 2 : 0;
        big = big || type == 1;
        const std::string n = std::to_string(port);
        char volts[16], amps[16];
        snprintf(volts, sizeof volts, "%.2f", k.volts);
        snprintf(amps, sizeof amps, "%.2f", k.amps);
        EXPECT_EQ(b_.status("powerbank_state_" + n),
                  type == 0 ? "0" : std::to_string(dc_ != 0 ? type : type + 3));
        EXPECT_EQ(b_.status("powerbank" + n + "_voltage"), volts);
        EXPECT_EQ(b_.status("powerbank" + n + "_electricity"), amps);
    }
    EXPECT_EQ(b_.status("dc_input_stat"), dc_ != 0 ? "up" : "down");
    auto on = [&](int k) { return modes_[k] == "1" || (modes_[k] == "2" && (dc_ != 0 || big)); };
    EXPECT_EQ(b_.get("pse1_ctrl"), on(0) ? "0" : "1");
    EXPECT_EQ(b_.get("pse2_ctrl"), on(1) ? "0" : "1");
    EXPECT_EQ(b_.get("ups_ctrl"), on(2) ? "1" : "0");

    // Every DC change was announced once, the start-up's included; none reached
    // the bus twice.
    EXPECT_EQ(dc_sent_, dc_changes_ + 1);
    EXPECT_EQ(dc_events(), session_events_);
    EXPECT_TRUE(b_.wait_until([&] { return listing(proc + "/fd", true) == fds; }, kPassMs))
        << testing::PrintToString(listing(proc + "/fd", true)) << "\nafter start-up "
        << testing::PrintToString(fds);
    EXPECT_EQ(listing(proc + "/task", false), threads);
    EXPECT_TRUE(b_.daemon_running());
}

}  // namespace
