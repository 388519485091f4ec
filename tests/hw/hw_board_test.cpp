// The hardware layer on a simulated board: each case prepares a fresh board,
// runs one call through hw_probe and compares its output and the exact
// device accesses it made (the journal lines after the preparation).
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "scenario.h"

namespace {

using Args = std::vector<std::string>;

struct Case {
    Case(const char *w, std::vector<Args> s, Args c, std::string o, std::vector<std::string> i,
         std::string e = "")
        : what(w),
          setup(std::move(s)),
          call(std::move(c)),
          out(std::move(o)),
          io(std::move(i)),
          err(std::move(e)) {}
    const char *what;
    std::vector<Args> setup;      // tool verbs; {"probe", ...} runs the probe first
    Args call;                    // the probe's arguments
    std::string out;              // exact standard output
    std::vector<std::string> io;  // journal texts of the call, "input" lines left out
    std::string err;              // exact standard error
};

scenario::RunResult probe(const scenario::Board &b, Args args) {
    args.insert(args.begin(), HW_PROBE);
    return b.run_on_board(args, 1);
}

void run_cases(const std::vector<Case> &cases) {
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        scenario::Board b;
        for (const Args &s : c.setup) {
            if (s[0] == "probe") {
                ASSERT_EQ(probe(b, Args(s.begin() + 1, s.end())).status, 0);
            } else {
                ASSERT_EQ(b.tool(s).status, 0) << s[0];
            }
        }
        const size_t before = b.journal().size();
        scenario::RunResult r = probe(b, c.call);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        std::vector<std::string> io;
        std::vector<scenario::JournalLine> lines = b.journal();
        for (size_t i = before; i < lines.size(); ++i) {
            if (lines[i].kind != "input") {
                io.push_back(lines[i].text);
            }
        }
        EXPECT_EQ(io, c.io);
    }
}

const Args kExport{"probe", "export"};
const char kIn[] = R"(gpio gpio25/direction write 10 "in\0\0\0\0\0\0\0\0")";

TEST(I2cOnBoard, TransferShapesAndFailures) {
    run_cases({
        {"a read is one combined transfer of two messages",
         {{"i2c", "43", "15", "2c", "91", "01"}},
         {"read-bus0", "0x43", "0x15", "3"},
         "rc=0\n2c9101\n",
         {"i2c 43 2 0000:1:15 0001:3:2c9101 ok"}},
        {"an absent device leaves the buffer zero",
         {},
         {"read-bus0", "0x41", "0x10", "2"},
         "I2C_RDWR err \nrc=0\n0000\n",
         {"i2c 41 2 0000:1:10 0001:2: ENXIO"}},
        {"no bus device: both messages, no transfer",
         {{"fault", "missing", "i2c-0"}},
         {"read-bus0", "0x43", "0x15", "3"},
         "open failed \nI2C_RDWR err \nrc=0\n000000\n",
         {}},
        {"8 data bytes make one 9-byte message",
         {},
         {"write-reg", "0x43", "0x10", "8"},
         "rc=0\n",
         {"i2c 43 1 0000:9:101122334455667788 ok"}},
        {"9 data bytes are refused before the bus",
         {},
         {"write-reg", "0x43", "0x10", "9"},
         "This function supports up to 8 bytes at a time !!!\nrc=-1\n",
         {}},
        {"0 data bytes send the register alone",
         {},
         {"write-reg", "0x40", "0x1a", "0"},
         "rc=0\n",
         {"i2c 40 1 0000:1:1a ok"}},
        {"a silent device fails the write",
         {{"fault", "silent", "43"}},
         {"write-reg", "0x43", "0x10", "1"},
         "I2C_RDWR err \nrc=-1\n",
         {"i2c 43 1 0000:2:1011 EREMOTEIO"}},
    });
}

TEST(GpioOnBoard, ExportsAndDcSamples) {
    const std::string dc_read1 = R"(gpio gpio25/value read 2 "1\n")";
    run_cases({
        {"start-up exports 25 then 19",
         {},
         {"export"},
         "rc=0\n",
         {R"(gpio export write 2 "25")", R"(gpio export write 2 "19")"}},
        {"exporting again is silent",
         {kExport},
         {"export"},
         "rc=0\n",
         {R"(gpio export write 2 "25" err=EBUSY)", R"(gpio export write 2 "19" err=EBUSY)"}},
        {"no export file", {{"fault", "missing", "export"}}, {"export"}, "rc=-1\n", {}},
        {"DC present, with the debug line",
         {kExport},
         {"-d", "dc"},
         "rc=1\n",
         {kIn, dc_read1},
         "POWERBANK_DEBUG >>> common_interfance->powerbank_get_dc_state()->line.788 : stat=1\n\n"},
        {"DC absent",
         {kExport, {"dc", "0"}},
         {"dc"},
         "rc=0\n",
         {kIn, R"(gpio gpio25/value read 2 "0\n")"}},
        {"a failed read samples absent",
         {kExport, {"fault", "eio-read", "gpio25/value"}},
         {"dc"},
         "rc=0\n",
         {kIn, R"(gpio gpio25/value read 0 "" err=EIO)"},
         "read error:: Input/output error\n"},
        {"a failed direction write does not stop the sample",
         {kExport, {"fault", "eio-write", "gpio25/direction"}},
         {"dc"},
         "rc=1\n",
         {std::string(kIn) + " err=EIO", dc_read1},
         "write dir error:: Input/output error\n"},
        {"line not exported: -1 and no debug line", {}, {"-d", "dc"}, "rc=-1\n", {}},
    });
}

TEST(GpioOnBoard, ValuesAndDirection) {
    run_cases({
        {"reset line raised",
         {kExport},
         {"set-value", "19", "1"},
         "rc=0\n",
         {R"(gpio gpio19/value write 1 "1")"}},
        {"value 2 is written as is",
         {kExport},
         {"set-value", "19", "2"},
         "rc=0\n",
         {R"(gpio gpio19/value write 1 "2")"}},
        {"refused value opens nothing",
         {kExport},
         {"set-value", "19", "3"},
         "set_gpio_value 19 val = 0/1/2\nrc=-1\n",
         {}},
        {"refused pin is silent", {kExport}, {"set-value", "18", "1"}, "rc=-1\n", {}},
        {"a refused write is reported and counts as done",
         {kExport},
         {"set-value", "25", "1"},
         "rc=0\n",
         {R"(gpio gpio25/value write 1 "1" err=EPERM)"},
         "write error:: Operation not permitted\n"},
        {"line not exported", {}, {"set-value", "19", "1"}, "rc=-1\n", {}},
        {"direction out: all 10 bytes",
         {kExport},
         {"set-dir-out"},
         "rc=0\n",
         {R"(gpio gpio25/direction write 10 "out\0\0\0\0\0\0\0")"}},
        {"a long direction is cut to 9 characters",
         {kExport},
         {"set-dir", "outputsandmore"},
         "rc=0\n",
         {R"(gpio gpio25/direction write 10 "outputsan\0" err=EINVAL)"},
         "write dir error:: Invalid argument\n"},
        {"null direction", {kExport}, {"set-dir"}, "rc=-1\n", {}},
    });
}

TEST(McuOnBoard, CommandsAndReadBacks) {
    run_cases({
        {"register write",
         {},
         {"reg-write", "0xb2", "220"},
         "rc=0\n",
         {R"(mcu ms51_reg write 9 "w b2 dc \n" via=palmbus)"}},
        {"ADC request and read-back, level boundary",
         {{"adc", "91", "2731"}},
         {"adc", "0x91"},
         "rc=0 raw=0xaab\nvolts=0x1.19a266p+1 level=1\n",
         {R"(mcu ms51_adc write 5 "r 91\n" via=i2c-dev)",
          R"(mcu ms51_adc read 4 "aab\n" via=i2c-dev)",
          R"(mcu ms51_adc write 5 "r 91\n" via=i2c-dev)",
          R"(mcu ms51_adc read 4 "aab\n" via=i2c-dev)"}},
        {"no ADC file: value untouched, 0 V",
         {{"adc", "91", "2731"}, {"fault", "missing", "ms51_adc"}},
         {"adc", "0x91"},
         "rc=0 raw=0xdead\nvolts=0x0p+0 level=0\n",
         {}},
        {"over-current flags read into the record",
         {{"oc", "0x0a"}},
         {"oc-state", "6"},
         "rc=0 state=10\n",
         {R"(mcu ms51_over_current write 5 "r a9\n" via=palmbus)",
          R"(mcu ms51_over_current read 3 "10\n" via=palmbus)"}},
        {"over-current file missing keeps the old flags",
         {{"oc", "0x0a"}, {"fault", "missing", "ms51_over_current"}},
         {"oc-state", "6"},
         "rc=0 state=6\n",
         {}},
        {"a failed request still reads back what the last one selected",
         {{"probe", "oc-state", "0"}, {"oc", "0x40"}, {"fault", "eio-write", "ms51_over_current"}},
         {"oc-state", "0"},
         "rc=0 state=64\n",
         {R"(mcu ms51_over_current write 5 "r a9\n" via=palmbus err=EIO)",
          R"(mcu ms51_over_current read 3 "64\n" via=palmbus)"}},
        {"over-current clear",
         {},
         {"oc-clear"},
         "rc=0\n",
         {R"(mcu ms51_over_current write 8 "w a9 0 \n" via=palmbus)"}},
        {"PoE outputs by exact name",
         {},
         {"poe", "POE_2", "1"},
         "rc=0\n",
         {R"(mcu ms51_pse2_ctrl write 2 "1\n" via=i2c-dev)"}},
        {"lower-case name writes nothing", {}, {"poe", "poe_1", "0"}, "rc=-1\n", {}},
        {"UPS control and its indicator",
         {},
         {"ups", "1"},
         "rc=0 rc=0\n",
         {R"(mcu ms51_ups_ctrl write 2 "1\n" via=i2c-dev)",
          R"(mcu ms51_leds write 4 "1 0\n" via=palmbus)"}},
    });
}

TEST(McuOnBoard, AdcDebugLine) {
    scenario::Board b;
    b.adc(0x93, 2730);
    scenario::RunResult r = probe(b, {"-d", "adc", "0x93"});
    EXPECT_EQ(r.out, "rc=0 raw=0xaaa\nvolts=0x1.1988p+1 level=0\n");
    EXPECT_TRUE(std::regex_match(
        r.err,
        std::regex("POWERBANK_DEBUG >>> common_interfance->i2c_mcu_get_adc\\(\\)->line\\.[0-9]+ "
                   ": 93=2730   adc_value_tmp=2\\.20\n\n")))
        << r.err;
}

}  // namespace
