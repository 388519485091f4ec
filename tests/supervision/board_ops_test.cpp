// Supervision operations called one at a time on a simulated board through
// the probe: typing of a port, the super-capacitor status and threshold
// programming, checked on the output and the journal.
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
        {"selector 0x08 selects no capability",
         {{"i2c", "43", "10", "08"}},
         {"type", "0x43"},
         "rc=0\n" + empty,
         {kSelector + std::string("08 ok")}},
    });
}

TEST(BoardSuperCapacitor, StatusFromTheTopThreeBits) {
    Board b;
    // Top bits 111 and 100/011 mean full and charging; the rest empty.
    for (auto [reg, status] : {std::pair{"e0", 1}, {"9f", 2}, {"7f", 2}, {"a0", 0}, {"40", 0}}) {
        ASSERT_EQ(b.tool({"i2c", "53", "1c", reg}).status, 0);
        EXPECT_EQ(probe::run(b, {"supercap"}).out, "rc=" + std::to_string(status) + "\n") << reg;
    }
}

// 256 keeps its zero low byte; 2000, 5000 and a detection time of 300; a
// setting that is no number has its default bytes, like an absent one.
TEST(BoardThresholds, NineRegisterWritesInOrder) {
    Board b;
    for (const auto &[key, value] : {std::pair{"DBID_POE1_THRESHOLD", "256"},
                                     {"DBID_POE2_THRESHOLD", "2000"},
                                     {"DBID_TOTAL_RATED_POWER", "5000"},
                                     {"DBID_OVER_CURREN_DETECTION_TIME", "300"},
                                     {"DBID_UPS_THRESHOLD", "x7"}}) {
        b.set_config(key, value);
    }
    ASSERT_EQ(probe::run(b, {"thresholds"}).status, 0);
    std::vector<std::string> written;
    for (const auto &l : b.journal_find("mcu", "ms51_reg", "write")) {
        written.push_back(l.data());
        EXPECT_EQ(l.tag("via"), "palmbus");
    }
    EXPECT_EQ(written, (std::vector<std::string>{"w b2 1 \n", "w b3 0 \n", "w b4 7 \n",
                                                 "w b5 d0 \n", "w b0 9 \n", "w b1 60 \n",
                                                 "w b8 2c \n", "w b7 13 \n", "w b6 88 \n"}));
}

}  // namespace
