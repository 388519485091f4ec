// The real daemon on a simulated board: the reset and typing of both ports
// and the over-current cadence; the output policy through DC and power-bank
// changes; the periodic re-detection while DC stays absent and the CC watch.
// Gaps are the board's virtual milliseconds: a sleep never ends early, so
// each gap is at least the sleep; a loaded machine only stretches them, so an
// upper bound is only ever put on the shortest of several.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "harness/scenario.h"

namespace {

using scenario::Board;
using scenario::JournalLine;
using Lines = std::vector<JournalLine>;
using Pred = std::function<bool(const JournalLine &)>;

// A successful write of DATA to the GPIO or MCU file NAME.
bool is_write(const JournalLine &l, const std::string &name, const std::string &data) {
    return l.op() == "write" && l.name() == name && l.data() == data && l.tag("err").empty();
}
bool is_clear(const JournalLine &l) {
    return is_write(l, "ms51_over_current", "w a9 0 \n");
}

// Indices of the lines at or after FROM for which PRED holds.
std::vector<size_t> find_all(const Lines &j, size_t from, const Pred &pred) {
    std::vector<size_t> out;
    for (size_t i = from; i < j.size(); i++) {
        if (pred(j[i])) {
            out.push_back(i);
        }
    }
    return out;
}
// The first of them, or j.size().
size_t find_from(const Lines &j, size_t from, const Pred &pred) {
    const std::vector<size_t> all = find_all(j, from, pred);
    return all.empty() ? j.size() : all[0];
}
// How many lines in [FROM, TO) PRED holds for.
size_t count_in(const Lines &j, size_t from, size_t to, const Pred &pred) {
    size_t n = 0;
    for (size_t i : find_all(j, from, pred)) {
        n += i < to;
    }
    return n;
}

constexpr double kTimedSpeed = 5;

bool gpio19_up(const JournalLine &l) {
    return is_write(l, "gpio19/value", "1");
}
bool dc_sample(const JournalLine &l) {
    return l.kind == "gpio" && l.name() == "gpio25/value" && l.op() == "read";
}
bool cc_reading(const JournalLine &l) {
    return is_write(l, "ms51_adc", "r 93\n");
}
bool measurement(const JournalLine &l) {
    return is_write(l, "ms51_adc", "r 91\n");
}

// Every output always on, and switched a millisecond apart.
void always_on(Board &b) {
    for (const char *key : {"DBID_POE1_ENABLE", "DBID_POE2_ENABLE", "DBID_UPS_ENABLE"}) {
        b.set_config(key, "1");
    }
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
}

// Waits until PRED holds for at least N journal lines at or after FROM.
bool wait_count(Board &b, size_t from, size_t n, const Pred &pred, long long virtual_ms) {
    return b.wait_until([&] { return find_all(b.journal(), from, pred).size() >= n; }, virtual_ms);
}

// Every output always on, each reading its own channel, each a count of its
// own: POE_1 63 (0.050757 V, a load), POE_2 62 (0.049951 V, none), the UPS 100
// (0.080566 V), while every CC line reads 2.5 V.
TEST(DaemonSupervision, ResetOrderTypingAndOverCurrentCadence) {
    Board b;
    always_on(b);
    b.set_config("DBID_POWERBANK_DEBUG", "1");
    b.bank(1, 20.0, 3.0);
    b.bank(2, 5.0, 2.0);
    b.adc(0x91, 63);
    b.adc(0x95, 62);
    b.adc(0x96, 100);
    b.start_daemon(kTimedSpeed);

    // Port 2's current is the last value the display update publishes.
    ASSERT_TRUE(b.wait_for_status("powerbank2_electricity", "2.00", 20000)) << b.journal_text();
    EXPECT_EQ(b.status("powerbank_state_1"), "1");
    EXPECT_EQ(b.status("powerbank_state_2"), "2");

    // GPIO 19 up, GPIO 25 out, two seconds, port 1 then port 2, GPIO 25 in,
    // one second, GPIO 19 down, with nothing else on the hardware between.
    Lines j = b.journal();
    // The main thread's hardware effects, leaving out the LED thread's and the broker's.
    std::vector<size_t> steps = find_all(j, find_from(j, 0, gpio19_up), [](const JournalLine &l) {
        return l.kind == "gpio" || l.kind == "i2c" || l.kind == "mcu";
    });
    steps.resize(std::min<size_t>(steps.size(), 8));
    std::vector<std::string> texts;
    for (size_t i : steps) {
        texts.push_back(j[i].text);
    }
    EXPECT_EQ(texts, (std::vector<std::string>{
                         R"(gpio gpio19/value write 1 "1")",
                         R"(gpio gpio25/direction write 10 "out\0\0\0\0\0\0\0")",
                         "i2c 43 2 0000:1:10 0001:1:01 ok", "i2c 43 2 0000:1:11 0001:3:2c4106 ok",
                         "i2c 40 2 0000:1:10 0001:1:01 ok", "i2c 40 2 0000:1:11 0001:3:c89001 ok",
                         R"(gpio gpio25/direction write 10 "in\0\0\0\0\0\0\0\0")",
                         R"(gpio gpio19/value write 1 "0")"}));
    ASSERT_EQ(steps.size(), 8u);
    const size_t out = steps[1], sel1 = steps[2], in = steps[6], down = steps[7];
    EXPECT_GE(j[sel1].ms - j[out].ms, 1995);
    EXPECT_GE(j[down].ms - j[in].ms, 995);

    // Measurements: right after the policy pass of the DC change (pass 1),
    // right after the one of the first CC evaluation (pass 4), then every
    // fifth pass.
    ASSERT_TRUE(wait_count(b, 0, 2, measurement, 30000)) << b.journal_text();
    EXPECT_EQ(b.status("powerbank_poe1_power_over_current_state"), "2");
    EXPECT_EQ(b.status("powerbank_poe2_power_over_current_state"), "1");
    EXPECT_EQ(b.status("powerbank_ups_power_over_current_state"), "2");
    EXPECT_EQ(b.status("powerbank_total_power_over_current_state"), "2");
    // The outputs are read in order, then the over-current register.
    j = b.journal();
    std::vector<std::string> reads;
    for (size_t i : find_all(j, find_from(j, 0, measurement),
                             [](const JournalLine &l) { return l.kind == "mcu"; })) {
        reads.push_back(j[i].name() + " " + j[i].op() + " " + j[i].data());
    }
    reads.resize(8);
    EXPECT_EQ(reads, (std::vector<std::string>{
                         "ms51_adc write r 91\n", "ms51_adc read 3f\n", "ms51_adc write r 95\n",
                         "ms51_adc read 3e\n", "ms51_adc write r 96\n", "ms51_adc read 64\n",
                         "ms51_over_current write r a9\n", "ms51_over_current read 0\n"}));
    // With the debug lines of the passes so far, word for word.
    for (const char *reading :
         {"##poe1_switch=1 adc_value_poe1=0.050757\n\n",
          "##poe2_switch=1 adc_value_poe2=0.049951\n\n",
          "##ups_switch=1 adc_value_ups=0.080566\n\n",
          "common_interfance->rt1719_get_type()->line.636 : addr 43  i2c_read_reg10=1\n\n",
          "common_interfance->rt1719_get_type()->line.721 : 43 powerbank_power=60.00W  "
          "powerbank_type=1 powerbank1_current_connect_state=1  "
          "pbstate->powerbank2_current_connect_state=-1\n\n",
          "common_interfance->rt1719_reset()->line.746 : pbstate->powerbank1_type = 1  "
          "pbstate->powerbank2_type=2 \n\n",
          "common_interfance->powerbank_get_dc_state()->line.788 : stat=1\n\n",
          " :  POE_1 ALWAYS OPEN\n\n", " :  POE_2 ALWAYS OPEN\n\n", " :  ups ALWAYS OPEN\n\n",
          " : #####pbstate->powerbank1_type=1   pbstate->powerbank2_type=2\n\n",
          " :  powerbank1 charging\n\n", " :  powerbank2 charging\n\n",
          " : 93=3103   adc_value_tmp=2.50\n\n"}) {
        EXPECT_NE(b.daemon_stderr().find(reading), std::string::npos) << reading;
    }

    // Set after the last policy pass cleared the latch: the next measurement
    // publishes what the MCU holds.
    b.oc(0x08 | 0x40);
    ASSERT_TRUE(wait_count(b, 0, 4, measurement, 60000)) << b.journal_text();
    j = b.journal();
    auto m = find_all(j, 0, measurement);
    EXPECT_EQ(count_in(j, m[0] + 1, m[1], cc_reading), 3u);
    EXPECT_EQ(count_in(j, m[1] + 1, m[2], cc_reading), 5u);
    EXPECT_EQ(count_in(j, m[2] + 1, m[3], cc_reading), 5u);
    EXPECT_EQ(b.status("powerbank_ups_power_over_current_state"), "3");
    EXPECT_EQ(b.status("powerbank_total_power_over_current_state"), "3");
    // Only policy passes clear the latch: two of them so far.
    EXPECT_EQ(find_all(j, 0, is_clear).size(), 2u);
}

// The writes of the first policy pass at or after FROM, waited for: the latch
// cleared, POE_1, POE_2, the UPS and its indicator (MCU LED 1), as
// "NAME DATA" in one text; their indices go to W.
std::string policy_pass(Board &b, size_t from, std::vector<size_t> &w) {
    Lines j;
    if (!b.wait_until(
            [&] {
                j = b.journal();
                w = find_all(j, find_from(j, from, is_clear), [](const JournalLine &l) {
                    return l.kind == "mcu" && l.op() == "write";
                });
                return w.size() >= 5;
            },
            30000)) {
        w.clear();
        ADD_FAILURE() << "no whole policy pass after journal line " << from;
        return "";
    }
    w.resize(5);
    std::string text;
    for (size_t i : w) {
        text += j[i].name() + " " + j[i].data() + j[i].tag("err");
    }
    return text;
}

std::string pass(const char *poe1, const char *poe2, const char *ups, const char *led) {
    return std::string("ms51_over_current w a9 0 \nms51_pse1_ctrl ") + poe1 + "\nms51_pse2_ctrl " +
           poe2 + "\nms51_ups_ctrl " + ups + "\nms51_leds 1 " + led + "\n";
}

// POE_1 and the UPS automatic, POE_2 always on; a 60 W bank on port 1. Each
// step ends with a policy pass whose writes are checked.
TEST(DaemonSupervision, OutputPolicyThroughDcAndBankChanges) {
    Board b;
    b.set_config("DBID_POE1_ENABLE", "2");
    b.set_config("DBID_POE2_ENABLE", "1");
    b.set_config("DBID_UPS_ENABLE", "2");
    // A tenth of a second, well apart from the one-second default.
    constexpr long long kDelayMs = 100;
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "100000");
    b.bank(1, 20.0, 3.0);
    b.start_daemon(kTimedSpeed);

    // DC present: everything on, outputs a delay apart, the indicator right
    // behind the UPS; the over-current step measures a delay after that.
    std::vector<size_t> w;
    ASSERT_EQ(policy_pass(b, 0, w), pass("0", "0", "1", "0")) << b.journal_text();
    ASSERT_TRUE(wait_count(b, w[4], 1, measurement, 5000));
    Lines j = b.journal();
    const size_t m = find_from(j, w[4], measurement);
    long long shortest = kDelayMs * 5;
    for (auto [a, z] : {std::pair{w[1], w[2]}, {w[2], w[3]}, {w[3], m}}) {
        EXPECT_GE(j[z].ms - j[a].ms, kDelayMs - 5) << j[a].text << " -> " << j[z].text;
        shortest = std::min(shortest, j[z].ms - j[a].ms);
    }
    EXPECT_LT(shortest, kDelayMs * 5);

    // DC unknown (its GPIO cannot be read), bank still attached: automatic
    // outputs off, the UPS LED on; no DC status is written for it.
    size_t from = b.journal().size();
    b.fault({"missing", "gpio25/value"});
    EXPECT_EQ(policy_pass(b, from, w), pass("1", "0", "0", "1"));
    EXPECT_EQ(b.status("dc_input_stat"), "up");

    // DC absent with the 60 W bank attached: automatic outputs on again. A
    // mode changed meanwhile takes effect: "3" is always off.
    b.set_config("DBID_POE2_ENABLE", "3");
    from = b.journal().size();
    b.dc(false);
    b.clear_faults();
    EXPECT_EQ(policy_pass(b, from, w), pass("0", "1", "1", "0"));
    EXPECT_TRUE(b.wait_for_status("dc_input_stat", "down", 5000));

    // The bank goes away: the periodic re-detection finds port 1 changed and
    // switches the automatic outputs off.
    from = b.journal().size();
    b.bank_none(1);
    EXPECT_EQ(policy_pass(b, from, w), pass("1", "1", "0", "1"));
    EXPECT_TRUE(b.wait_for_status("powerbank_state_1", "0", 10000));
}

// DC absent from the start: the periodic re-detection, then the CC watch
// through DC changes.
TEST(DaemonSupervision, PeriodicRedetectionThenCcWatchThroughDcChanges) {
    Board b;
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    b.dc(false);
    b.start_daemon(10);

    // Pass 1: the DC change re-detects, and with both ports empty the display
    // update resets once more. Then passes 12, 23, 34 with the default limit.
    // About 45 s of passes and resets; the deadline leaves room for a slow
    // (emulated, loaded) machine, whose own work per pass counts in virtual time.
    ASSERT_TRUE(wait_count(b, 0, 5, gpio19_up, 150000)) << b.journal_text();
    auto j = b.journal();
    std::vector<size_t> passes;
    for (size_t reset : find_all(j, 0, gpio19_up)) {
        passes.push_back(count_in(j, 0, reset, dc_sample));
    }
    EXPECT_EQ(passes, (std::vector<size_t>{1, 1, 12, 23, 34}));
    // Nothing changed: the only policy pass is the first one.
    auto pse1 = [](const JournalLine &l) { return is_write(l, "ms51_pse1_ctrl", "1\n"); };
    EXPECT_EQ(find_all(j, 0, pse1).size(), 1u);
    // Without DC the watch takes no readings.
    EXPECT_TRUE(find_all(j, 0, cc_reading).empty());

    // A high CC1 on port 1 while DC is away, then DC returns: the DC change
    // re-detects, and the first evaluation, three readings later, too.
    b.cc(1, 3.0, 0.0);
    size_t from = b.journal().size();
    b.dc(true);
    ASSERT_TRUE(wait_count(b, from, 2, gpio19_up, 20000)) << b.journal_text();
    j = b.journal();
    auto resets = find_all(j, from, gpio19_up);
    EXPECT_EQ(count_in(j, from + 1, resets[0], cc_reading), 0u);
    EXPECT_EQ(count_in(j, resets[0] + 1, resets[1], cc_reading), 3u);
    // A pass reads port 1 CC1, CC2, then port 2 CC1, CC2.
    std::vector<std::string> order;
    for (size_t i : find_all(j, find_from(j, resets[0], cc_reading), [](const JournalLine &l) {
             return is_write(l, "ms51_adc", l.data());
         })) {
        order.push_back(j[i].data());
    }
    order.resize(4);
    EXPECT_EQ(order, (std::vector<std::string>{"r 93\n", "r 94\n", "r 90\n", "r 97\n"}));

    // DC goes away one reading into a cycle, the line falls meanwhile, and DC
    // returns: the cycle starts again, so the evaluation that finds the line
    // low comes after exactly three fresh readings.
    const size_t seen = b.journal().size();
    ASSERT_TRUE(wait_count(b, seen, 1, cc_reading, 5000));
    b.dc(false);
    b.cc(1, 0.0, 0.0);
    // The DC change re-detects, and the display update resets once more with
    // both ports empty; DC returns on a quiet pass after that.
    ASSERT_TRUE(wait_count(b, seen, 2, gpio19_up, 20000));
    const size_t second = find_all(b.journal(), seen, gpio19_up)[1];
    ASSERT_TRUE(wait_count(b, second, 1, dc_sample, 20000));
    from = b.journal().size();
    b.dc(true);
    ASSERT_TRUE(wait_count(b, from, 2, gpio19_up, 20000)) << b.journal_text();
    j = b.journal();
    resets = find_all(j, from, gpio19_up);
    EXPECT_EQ(count_in(j, resets[0] + 1, resets[1], cc_reading), 3u);
}

// The daemon's standard output without the broker thread's line, which comes
// at any moment.
std::string hardware_lines(const Board &b) {
    std::string out = b.daemon_stdout();
    const size_t broker = out.find("broker_task PID=");
    return broker == std::string::npos ? out
                                       : out.erase(broker, out.find('\n', broker) + 1 - broker);
}

// Re-detections on faulty hardware, told by the transfers each makes and the
// lines it prints: with /dev/i2c-0 missing, two lines a port and no transfer,
// and the ports read empty; a controller that answers nothing, one transfer
// and one line. Then MCU answers longer than the daemon's 32-byte buffer: the
// number at their start is read, each read asks for 31 bytes, leaving room
// for the NUL, and nothing past the buffer is touched (the sanitizer stages
// see that).
TEST(DaemonSupervision, RedetectionsOnFaultyHardware) {
    Board b;
    always_on(b);
    // On batteries the ports are looked at again only after 31 passes.
    b.set_config("DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", "30");
    b.bank(2, 20.0, 3.0);
    b.fault({"missing", "i2c-0"});
    b.start_daemon(20);

    // The first pass re-detects, and the first CC evaluation (pass 4); then
    // the lines stay as they are.
    auto reset_done = [](const JournalLine &l) { return is_write(l, "gpio19/value", "0"); };
    ASSERT_TRUE(wait_count(b, 0, 2, reset_done, 20000)) << b.journal_text();
    ASSERT_TRUE(wait_count(b, find_all(b.journal(), 0, reset_done)[1], 2, dc_sample, 5000));
    EXPECT_TRUE(b.journal_find("i2c").empty());
    const std::string read = "open failed \nI2C_RDWR err \n";
    const std::string lines = "powerbank run\n" + read + read + read + read;
    EXPECT_EQ(hardware_lines(b), lines);
    EXPECT_EQ(b.status("powerbank_state_2"), "0");

    // Port 1's controller answers nothing; DC going away re-detects.
    b.clear_faults();
    b.fault({"silent", "43"});
    const size_t from = b.journal().size();
    b.dc(false);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_2", "4", 20000));
    const Lines j = b.journal();
    std::vector<std::string> transfers;
    for (size_t i = from; i < find_from(j, from, reset_done); i++) {
        if (j[i].kind == "i2c") {
            transfers.push_back(j[i].text);
        }
    }
    EXPECT_EQ(transfers, (std::vector<std::string>{"i2c 43 2 0000:1:10 0001:1: EREMOTEIO",
                                                   "i2c 40 2 0000:1:10 0001:1:01 ok",
                                                   "i2c 40 2 0000:1:11 0001:3:2c4106 ok"}));
    EXPECT_EQ(hardware_lines(b), lines + "I2C_RDWR err \n");

    // The ADC answers with the count and a long tail; with DC back the CC
    // watch and the outputs read it.
    mkdir(b.path("in/answer").c_str(), 0755);
    std::ofstream(b.path("in/answer/.tmp")) << "c1f\n" << std::string(40, ' ');
    ASSERT_EQ(rename(b.path("in/answer/.tmp").c_str(), b.path("in/answer/ms51_adc").c_str()), 0);
    b.clear_faults();
    b.dc(true);
    for (const char *out : {"poe1", "poe2", "ups"}) {
        const std::string key = std::string("powerbank_") + out + "_power_over_current_state";
        EXPECT_TRUE(b.wait_for_status(key, "2", 20000)) << key;
    }
    // Each read asks for room to spare for the terminating NUL.
    size_t long_reads = 0;
    for (const JournalLine &l : b.journal_find("mcu", "ms51_adc", "read")) {
        if (l.data().size() > 4) {
            EXPECT_EQ(l.data().size(), 31u) << l.text;
            long_reads++;
        }
    }
    EXPECT_GT(long_reads, 0u);
}

}  // namespace
