// The supervision and output operations called one at a time on a simulated
// board through supervision_probe: typing of a port, threshold programming,
// the over-current step and the CC watch, checked on the journal, the board's
// registers and the store.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "journal_util.h"
#include "scenario.h"

namespace {

using scenario::Board;
using namespace supervision;

scenario::RunResult probe(const Board &b, const std::vector<std::string> &args) {
    std::vector<std::string> argv{SUPERVISION_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    return b.run_on_board(argv, 50);
}

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

TEST(BoardTyping, SelectorCapabilityAndClassification) {
    Board b;
    // Each case changes port 1's controller, then types port 1 on a record in
    // which both ports were attached before.
    struct Case {
        const char *story;
        std::vector<std::vector<std::string>> inputs;  // boardsim verbs
        std::string port1;                             // what the record holds afterwards
        std::string capability_reg;                    // "" when no capability is read
        std::string capability_bytes;
    } cases[] = {
        {"20 V 3 A is exactly 60 W: type 1",
         {{"bank", "1", "20", "3"}},
         "port1 type=1 last=1 current=1 volts=20.00 amps=3.00",
         "11",
         "2c4106"},
        {"5 V 2 A is exactly 10 W: type 2",
         {{"bank", "1", "5", "2"}},
         "port1 type=2 last=1 current=1 volts=5.00 amps=2.00",
         "11",
         "c89001"},
        {"5 V 1.5 A is too weak, but what it offers is kept",
         {{"bank", "1", "5", "1.5"}},
         "port1 type=0 last=1 current=0 volts=5.00 amps=1.50",
         "11",
         "969001"},
        {"capability 7 is read from register 0x29",
         {{"bank", "1", "20", "3.25", "7"}},
         "port1 type=1 last=1 current=1 volts=20.00 amps=3.25",
         "29",
         "454106"},
        {"selector 0x03 points at register 0x19",
         {{"i2c", "43", "10", "03"}, {"i2c", "43", "19", "2c", "91", "01"}},
         "port1 type=2 last=1 current=1 volts=5.00 amps=3.00",
         "19",
         "2c9101"},
        {"selector 0xFF: no usable answer",
         {{"i2c", "43", "10", "ff"}},
         "port1 type=0 last=1 current=0 volts=0.00 amps=0.00",
         "",
         ""},
        {"selector 0x08 selects no capability",
         {{"i2c", "43", "10", "08"}},
         "port1 type=0 last=1 current=0 volts=0.00 amps=0.00",
         "",
         ""},
        {"a silent controller reads as an empty port",
         {{"bank", "1", "20", "3"}, {"fault", "silent", "43"}},
         "port1 type=0 last=1 current=0 volts=0.00 amps=0.00",
         "",
         ""},
        {"a missing controller too",
         {{"fault", "clear"}, {"i2c", "43", "none"}},
         "port1 type=0 last=1 current=0 volts=0.00 amps=0.00",
         "",
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.story);
        for (const auto &verb : c.inputs) {
            ASSERT_EQ(b.tool(verb).status, 0) << verb[0];
        }
        const size_t from = b.journal().size();
        auto r = probe(b, {"type", "0x43"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find(c.port1 + "\n"), std::string::npos) << r.out;
        // Port 2's fields are untouched by a typing of port 1.
        EXPECT_NE(r.out.find("port2 type=0 last=0 current=1 volts=0.00 amps=0.00"),
                  std::string::npos)
            << r.out;

        auto j = b.journal();
        auto i2c = find_all(j, from, [](const JournalLine &l) { return l.kind == "i2c"; });
        ASSERT_FALSE(i2c.empty());
        EXPECT_TRUE(is_i2c_read(j[i2c[0]], "43", "10")) << j[i2c[0]].text;
        if (c.capability_reg.empty()) {
            EXPECT_EQ(i2c.size(), 1u) << "no capability read expected";
        } else {
            ASSERT_EQ(i2c.size(), 2u);
            EXPECT_TRUE(is_i2c_read(j[i2c[1]], "43", c.capability_reg)) << j[i2c[1]].text;
            EXPECT_EQ(j[i2c[1]].field(3), "0001:3:" + c.capability_bytes) << j[i2c[1]].text;
        }
    }

    // The debug lines of a typing, word for word.
    ASSERT_EQ(b.tool({"bank", "1", "20", "3"}).status, 0);
    auto debug = probe(b, {"-d", "type", "0x43"});
    EXPECT_NE(debug.err.find("POWERBANK_DEBUG >>> common_interfance->rt1719_get_type()->line.636 "
                             ": addr 43  i2c_read_reg10=1\n\n"),
              std::string::npos)
        << debug.err;
    EXPECT_NE(debug.err.find("POWERBANK_DEBUG >>> common_interfance->rt1719_get_type()->line.721 "
                             ": 43 powerbank_power=60.00W  powerbank_type=1 "
                             "powerbank1_current_connect_state=1  "
                             "pbstate->powerbank2_current_connect_state=1\n\n"),
              std::string::npos)
        << debug.err;

    // An address that is neither port is classified but recorded nowhere.
    ASSERT_EQ(b.tool({"i2c", "41", "10", "01"}).status, 0);
    ASSERT_EQ(b.tool({"i2c", "41", "11", "2c", "41", "06"}).status, 0);
    auto r = probe(b, {"type", "0x41"});
    EXPECT_NE(r.out.find("rc=1\nport1 type=0 last=0 current=1 volts=0.00 amps=0.00\n"
                         "port2 type=0 last=0 current=1 volts=0.00 amps=0.00\n"),
              std::string::npos)
        << r.out;
}

TEST(BoardSuperCapacitor, StatusFromTheTopThreeBits) {
    Board b;
    struct {
        const char *reg;
        int status;
    } cases[] = {{"e0", 1}, {"ff", 1}, {"80", 2}, {"9f", 2}, {"60", 2},
                 {"7f", 2}, {"a0", 0}, {"40", 0}, {"00", 0}};
    for (const auto &c : cases) {
        ASSERT_EQ(b.tool({"i2c", "53", "1c", c.reg}).status, 0);
        auto r = probe(b, {"supercap"});
        EXPECT_EQ(r.out, "rc=" + std::to_string(c.status) + "\n") << "register 0x" << c.reg;
    }
    ASSERT_EQ(b.tool({"i2c", "53", "none"}).status, 0);
    // A missing device reads as zero, after the bus layer's own report.
    EXPECT_EQ(probe(b, {"supercap"}).out, "I2C_RDWR err \nrc=0\n");
}

TEST(BoardThresholds, NineRegisterWritesInOrder) {
    struct Case {
        const char *story;
        std::vector<std::pair<std::string, std::string>> config;
        std::vector<std::string> commands;  // ms51_reg commands, in order
    } cases[] = {
        {"nothing configured: the default bytes",
         {},
         {"w b2 5 \n", "w b3 dc \n", "w b4 5 \n", "w b5 dc \n", "w b0 9 \n", "w b1 60 \n",
          "w b8 3 \n", "w b7 f \n", "w b6 a0 \n"}},
        {"256 keeps its zero low byte; 2000, 5000 and a detection time of 300",
         {{"DBID_POE1_THRESHOLD", "256"},
          {"DBID_POE2_THRESHOLD", "2000"},
          {"DBID_TOTAL_RATED_POWER", "5000"},
          {"DBID_OVER_CURREN_DETECTION_TIME", "300"}},
         {"w b2 1 \n", "w b3 0 \n", "w b4 7 \n", "w b5 d0 \n", "w b0 9 \n", "w b1 60 \n",
          "w b8 2c \n", "w b7 13 \n", "w b6 88 \n"}},
        {"zero, text and negative values; a long value is cut to four digits",
         {{"DBID_POE1_THRESHOLD", "-1"},
          {"DBID_POE2_THRESHOLD", "0"},
          {"DBID_UPS_THRESHOLD", "x12"},
          {"DBID_TOTAL_RATED_POWER", "123456"},
          {"DBID_OVER_CURREN_DETECTION_TIME", "7s"}},
         {"w b2 ff \n", "w b3 ff \n", "w b4 5 \n", "w b5 dc \n", "w b0 9 \n", "w b1 60 \n",
          "w b8 7 \n", "w b7 4 \n", "w b6 d2 \n"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.story);
        Board b;
        for (const auto &kv : c.config) {
            b.set_config(kv.first, kv.second);
        }
        auto r = probe(b, {"thresholds"});
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::string> written;
        for (const auto &l : b.journal_find("mcu", "ms51_reg", "write")) {
            written.push_back(l.data());
            EXPECT_EQ(l.tag("via"), "palmbus");
        }
        EXPECT_EQ(written, c.commands);
    }

    // The bytes reach the MCU's registers.
    Board b;
    b.set_config("DBID_TOTAL_RATED_POWER", "5000");
    ASSERT_EQ(probe(b, {"thresholds"}).status, 0);
    EXPECT_EQ(b.get("reg/b7"), "19");
    EXPECT_EQ(b.get("reg/b6"), "136");
    EXPECT_EQ(b.get("reg/b8"), "3");
}

TEST(BoardOverCurrent, ReadingsBitsAndTheFifthCall) {
    Board b;
    b.adc(0x91, 62);  // 0.04995 V: no load
    b.adc(0x95, 63);  // 0.05076 V: a load
    b.adc(0x96, 0);
    b.oc(0x08 | 0x01 | 0x80);

    // One forced measurement, then five more calls: the fifth measures again.
    auto r = probe(b, {"over-current", "6", "1", "1", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("state=0x89 count=0"), std::string::npos) << r.out;
    EXPECT_EQ(b.status("powerbank_poe1_power_over_current_state"), "1");
    EXPECT_EQ(b.status("powerbank_poe2_power_over_current_state"), "2");
    EXPECT_EQ(b.status("powerbank_ups_power_over_current_state"), "3");
    EXPECT_EQ(b.status("powerbank_total_power_over_current_state"), "2");

    // Each measurement reads POE_1, POE_2 and UPS, then the flag register.
    auto j = b.journal();
    std::vector<std::string> requests;
    for (const auto &l : j) {
        if ((l.name() == "ms51_adc" || l.name() == "ms51_over_current") && l.op() == "write") {
            requests.push_back(l.name() + " " + l.data());
        }
    }
    const std::vector<std::string> one = {"ms51_adc r 91\n", "ms51_adc r 95\n", "ms51_adc r 96\n",
                                          "ms51_over_current r a9\n"};
    std::vector<std::string> two = one;
    two.insert(two.end(), one.begin(), one.end());
    EXPECT_EQ(requests, two);

    // The total's own bit, with the outputs off and on.
    b.oc(0x40 | 0x02);
    ASSERT_EQ(probe(b, {"over-current", "1", "0", "0", "0"}).status, 0);
    EXPECT_EQ(b.status("powerbank_poe1_power_over_current_state"), "0");
    EXPECT_EQ(b.status("powerbank_total_power_over_current_state"), "0");
    ASSERT_EQ(probe(b, {"over-current", "1", "0", "0", "1"}).status, 0);
    EXPECT_EQ(b.status("powerbank_ups_power_over_current_state"), "1");
    EXPECT_EQ(b.status("powerbank_total_power_over_current_state"), "3");
}

// Lines "call=N rc=..." of the probe, by call number (index 0 unused).
std::vector<std::string> cc_calls(const std::string &out) {
    std::vector<std::string> calls{""};
    for (const auto &line : lines_of(out)) {
        if (line.rfind("call=", 0) == 0) {
            calls.push_back(line.substr(line.find(' ') + 1));
        }
    }
    return calls;
}

TEST(BoardCcWatch, LevelsMarkAndTheThirtyFirstCall) {
    Board b;
    // 2731 counts read high (2.20027 V), 2730 low; 3723 is about 3.0 V,
    // 1241 about 1.0 V.
    auto r = probe(b, {"cc-watch", "6x2731,2730,0,0", "3723,0,0,0", "1241,0,0,0", "31x3723,0,0,0",
                       "3723,0,0,0"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto calls = cc_calls(r.out);
    ASSERT_EQ(calls.size(), 41u) << r.out;

    EXPECT_EQ(calls[1], "rc=0 index=1 levels=-1,-1,-1,-1 last=-1,-1,-1,-1 mark=0 count=0");
    EXPECT_EQ(calls[2], "rc=0 index=2 levels=-1,-1,-1,-1 last=-1,-1,-1,-1 mark=0 count=0");
    EXPECT_EQ(calls[3], "rc=1 index=0 levels=1,0,0,0 last=-1,-1,-1,-1 mark=0 count=0");
    EXPECT_EQ(calls[4], "rc=0 index=1 levels=1,0,0,0 last=-1,-1,-1,-1 mark=0 count=0");
    EXPECT_EQ(calls[6], "rc=0 index=0 levels=1,0,0,0 last=1,0,0,0 mark=0 count=0");
    // High, low, high on port 1 CC1: its level stays, the mark is set and the
    // call that set it already counts.
    EXPECT_EQ(calls[9], "rc=0 index=0 levels=1,0,0,0 last=1,0,0,0 mark=1 count=1");
    for (int call = 10; call <= 38; call++) {
        EXPECT_EQ(calls[call].substr(0, 5), "rc=0 ") << "call " << call;
    }
    EXPECT_NE(calls[38].find("mark=1 count=30"), std::string::npos) << calls[38];
    // The 31st call counted from the one that set the mark re-detects.
    EXPECT_EQ(calls[39], "rc=1 index=0 levels=1,0,0,0 last=1,0,0,0 mark=0 count=0");
    EXPECT_EQ(calls[40], "rc=0 index=1 levels=1,0,0,0 last=1,0,0,0 mark=0 count=0");

    // Readings are taken port 1 CC1, CC2, port 2 CC1, CC2.
    std::vector<std::string> order;
    for (const auto &l : b.journal_find("mcu", "ms51_adc", "write")) {
        order.push_back(l.data());
        if (order.size() == 4) {
            break;
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{"r 93\n", "r 94\n", "r 90\n", "r 97\n"}));
}

TEST(BoardCcWatch, DisagreementEverywhereAndALevelChangeWhileMarked) {
    Board b;
    auto r = probe(
        b, {"cc-watch", "3723,3723,3723,3723", "0,0,0,0", "3723,3723,3723,3723", "3x0,0,0,0"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto calls = cc_calls(r.out);
    ASSERT_EQ(calls.size(), 7u) << r.out;
    // Every line disagrees: no level changes, so no re-detection; the mark is set.
    EXPECT_EQ(calls[3], "rc=0 index=0 levels=-1,-1,-1,-1 last=-1,-1,-1,-1 mark=1 count=1");
    // Agreeing lows are a change even while the mark is set, which they leave set.
    EXPECT_EQ(calls[6], "rc=1 index=0 levels=0,0,0,0 last=-1,-1,-1,-1 mark=1 count=4");
}

}  // namespace
