// The hardware layer on a simulated board: each case prepares a fresh board,
// runs calls through the probe and compares their output and the exact device
// accesses they made.
#include <gtest/gtest.h>

#include "probe/probe_run.h"

namespace {

using probe::Args;

const Args kExport{"probe", "export"};
const char kIn[] = R"(gpio gpio25/direction write 10 "in\0\0\0\0\0\0\0\0")";
const char kDc1[] = R"(gpio gpio25/value read 2 "1\n")";

TEST(I2cOnBoard, TransferShapesAndFailures) {
    probe::run_cases({
        {"a read is one combined transfer of two messages",
         {{"i2c", "43", "15", "2c", "91", "01"}},
         {"i2c-read", "0x43", "0x15", "3"},
         "rc=0\n2c9101\n",
         {"i2c 43 2 0000:1:15 0001:3:2c9101 ok"}},
        {"an absent device leaves a read's buffer zero and refuses a write",
         {},
         {"i2c-read", "0x41", "0x10", "2", "i2c-write", "0x41", "0x10", "2"},
         "I2C_RDWR err \nrc=0\n0000\nI2C_RDWR err \nrc=-1\n",
         {"i2c 41 2 0000:1:10 0001:2: ENXIO", "i2c 41 1 0000:3:101122 ENXIO"}},
        {"8 data bytes make one 9-byte message, 9 are refused, 0 send the register alone",
         {},
         {"i2c-write", "0x43", "0x10", "8", "i2c-write", "0x43", "0x10", "9", "i2c-write", "0x40",
          "0x1a", "0"},
         "rc=0\nThis function supports up to 8 bytes at a time !!!\nrc=-1\nrc=0\n",
         {"i2c 43 1 0000:9:101122334455667788 ok", "i2c 40 1 0000:1:1a ok"}},
    });
}

TEST(GpioOnBoard, ExportsDcSamplesValuesAndDirection) {
    probe::run_cases({
        {"start-up exports 25 then 19; again is silent",
         {},
         {"export", "export"},
         "rc=0\nrc=0\n",
         {R"(gpio export write 2 "25")", R"(gpio export write 2 "19")",
          R"(gpio export write 2 "25" err=EBUSY)", R"(gpio export write 2 "19" err=EBUSY)"}},
        {"a failed read samples absent",
         {kExport, {"fault", "eio-read", "gpio25/value"}},
         {"dc"},
         "rc=0\n",
         {kIn, R"(gpio gpio25/value read 0 "" err=EIO)"},
         "read error:: Input/output error\n"},
        {"a direction file that cannot be opened samples unknown",
         {kExport, {"fault", "missing", "gpio25/direction"}},
         {"dc"},
         "rc=-1\n",
         {}},
        {"a failed direction write does not stop the sample",
         {kExport, {"fault", "eio-write", "gpio25/direction"}},
         {"dc"},
         "rc=1\n",
         {std::string(kIn) + " err=EIO", kDc1},
         "write dir error:: Input/output error\n"},
        {"a value as text; a refused write is reported and counts as done",
         {kExport},
         {"set-value", "19", "1", "set-value", "25", "1"},
         "rc=0\nrc=0\n",
         {R"(gpio gpio19/value write 1 "1")", R"(gpio gpio25/value write 1 "1" err=EPERM)"},
         "write error:: Operation not permitted\n"},
    });
}

TEST(McuOnBoard, CommandsAndReadBacks) {
    probe::run_cases({
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
    });
}

}  // namespace
