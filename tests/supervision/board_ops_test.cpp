// Supervision operations called one at a time on a simulated board through
// the probe: typing of a port, the super-capacitor status, threshold
// programming and the CC watch, checked on the output and the journal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/probe_run.h"

namespace {

using scenario::Board;

// Both ports were attached before; port 2's fields are untouched by a typing
// of port 1.
const char kPort2[] = "port2 type=0 last=0 current=1 volts=0.00 amps=0.00\n";
const char kSelector[] = "i2c 43 2 0000:1:10 0001:1:";

TEST(BoardTyping, SelectorCapabilityAndClassification) {
    const std::string empty =
        std::string("port1 type=0 last=1 current=0 volts=0.00 amps=0.00\n") + kPort2;
    probe::run_cases({
        {"5 V 1.5 A is too weak, but what it offers is kept",
         {{"bank", "1", "5", "1.5"}},
         {"type", "0x43"},
         std::string("rc=0\nport1 type=0 last=1 current=0 volts=5.00 amps=1.50\n") + kPort2,
         {kSelector + std::string("01 ok"), "i2c 43 2 0000:1:11 0001:3:969001 ok"}},
        {"selector 0x03 points at register 0x19",
         {{"i2c", "43", "10", "03"}, {"i2c", "43", "19", "2c", "91", "01"}},
         {"type", "0x43"},
         std::string("rc=2\nport1 type=2 last=1 current=1 volts=5.00 amps=3.00\n") + kPort2,
         {kSelector + std::string("03 ok"), "i2c 43 2 0000:1:19 0001:3:2c9101 ok"}},
        {"selector 0xFF: no usable answer",
         {{"i2c", "43", "10", "ff"}},
         {"type", "0x43"},
         "rc=0\n" + empty,
         {kSelector + std::string("ff ok")}},
        {"selector 0x08 selects no capability",
         {{"i2c", "43", "10", "08"}},
         {"type", "0x43"},
         "rc=0\n" + empty,
         {kSelector + std::string("08 ok")}},
        {"a silent controller reads as an empty port",
         {{"bank", "1", "20", "3"}, {"fault", "silent", "43"}},
         {"type", "0x43"},
         "I2C_RDWR err \nrc=0\n" + empty,
         {"i2c 43 2 0000:1:10 0001:1: EREMOTEIO"}},
        {"60 W exactly, with the debug lines word for word",
         {{"bank", "1", "20", "3"}},
         {"debug", "type", "0x43"},
         std::string("rc=1\nport1 type=1 last=1 current=1 volts=20.00 amps=3.00\n") + kPort2,
         {kSelector + std::string("01 ok"), "i2c 43 2 0000:1:11 0001:3:2c4106 ok"},
         "POWERBANK_DEBUG >>> common_interfance->rt1719_get_type()->line.636 : addr 43  "
         "i2c_read_reg10=1\n\nPOWERBANK_DEBUG >>> common_interfance->rt1719_get_type()->line.721 "
         ": 43 powerbank_power=60.00W  powerbank_type=1 powerbank1_current_connect_state=1  "
         "pbstate->powerbank2_current_connect_state=1\n\n"},
    });
}

TEST(BoardSuperCapacitor, StatusFromTheTopThreeBits) {
    Board b;
    // Top bits 111 and 100/011 mean full and charging; the rest empty.
    for (auto [reg, status] : {std::pair{"e0", 1}, {"9f", 2}, {"7f", 2}, {"a0", 0}, {"40", 0}}) {
        ASSERT_EQ(b.tool({"i2c", "53", "1c", reg}).status, 0);
        EXPECT_EQ(probe::run(b, {"supercap"}).out, "rc=" + std::to_string(status) + "\n") << reg;
    }
    // A missing device reads as zero, after the bus layer's own report.
    ASSERT_EQ(b.tool({"i2c", "53", "none"}).status, 0);
    EXPECT_EQ(probe::run(b, {"supercap"}).out, "I2C_RDWR err \nrc=0\n");
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
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.story);
        Board b;
        for (const auto &[key, value] : c.config) {
            b.set_config(key, value);
        }
        ASSERT_EQ(probe::run(b, {"thresholds"}).status, 0);
        std::vector<std::string> written;
        for (const auto &l : b.journal_find("mcu", "ms51_reg", "write")) {
            written.push_back(l.data());
            EXPECT_EQ(l.tag("via"), "palmbus");
        }
        EXPECT_EQ(written, c.commands);
    }
}

// The probe's "call=N ..." lines, after "call=N ", by call number (0 unused).
std::vector<std::string> cc_calls(const Board &b, std::vector<std::string> steps) {
    std::vector<std::string> argv;
    for (const std::string &step : steps) {
        argv.insert(argv.end(), {"cc", step});
    }
    const scenario::RunResult r = probe::run(b, argv);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> calls{""};
    for (size_t at = r.out.find("call="); at != std::string::npos; at = r.out.find("call=", at)) {
        const size_t from = r.out.find(' ', at) + 1;
        at = r.out.find('\n', at);
        calls.push_back(r.out.substr(from, at - from));
    }
    return calls;
}

TEST(BoardCcWatch, LevelsMarkAndTheThirtyFirstCall) {
    Board b;
    // 2731 counts read high (2.20027 V), 2730 low; 3723 is about 3.0 V,
    // 1241 about 1.0 V.
    auto calls =
        cc_calls(b, {"6x2731,2730,0,0", "3723,0,0,0", "1241,0,0,0", "31x3723,0,0,0", "3723,0,0,0"});
    ASSERT_EQ(calls.size(), 41u);
    EXPECT_EQ(calls[1], "rc=0 index=1 levels=-1,-1,-1,-1 last=-1,-1,-1,-1 mark=0 count=0");
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
    }
    order.resize(4);
    EXPECT_EQ(order, (std::vector<std::string>{"r 93\n", "r 94\n", "r 90\n", "r 97\n"}));
}

}  // namespace
