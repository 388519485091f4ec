// The simulated kernel interfaces, seen from a program running on the board,
// and the journal lines they leave.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;
using Lines = std::vector<std::string>;

const std::string kI2cDev = "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/";
const std::string kPalmbus =
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev/";
const std::string kGpio25 = "/sys/class/gpio/gpio25/";
const std::string kExport = "w /sys/class/gpio/export ";
const std::string kLed1 = "/sys/class/leds/usbc1/LineLedControl";

// Runs the probe's STEPS on the board; what it printed.
std::string probe(const Board &board, Lines steps, double speed = 0) {
    steps.insert(steps.begin(), PROBE);
    const scenario::RunResult r = board.run_on_board(steps, speed);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// The journal lines of KIND, without the stamp and the kind.
Lines texts(const Board &board, const std::string &kind) {
    Lines out;
    for (const scenario::JournalLine &line : board.journal_find(kind)) {
        out.push_back(line.text.substr(kind.size() + 1));
    }
    return out;
}

TEST(Mcu, RequestsSelectTheAnswerOnBothRoutesAndCommandsReachTheModel) {
    Board board;
    board.adc(0x91, 0xa2b);
    board.oc(5);
    for (const std::string &route : {kI2cDev, kPalmbus}) {
        EXPECT_EQ(probe(board, {"w " + route + "ms51_adc r 91\\n", "r " + route + "ms51_adc",
                                "w " + route + "ms51_over_current r a9\\n",
                                "r " + route + "ms51_over_current"}),
                  "5\n4 [a2b\n]\n5\n2 [5\n]\n")
            << route;
    }
    EXPECT_EQ(
        probe(board,
              {"w " + kPalmbus + "ms51_reg w b2 dc \\n", "w " + kI2cDev + "ms51_pse1_ctrl 0\\n",
               "w " + kPalmbus + "ms51_leds 1 0\\n", "w " + kPalmbus + "ms51_reg bogus\\n"}),
        "9\n2\n4\nerr=EINVAL\n");
    EXPECT_EQ(board.get("reg/b2"), "220");
    EXPECT_EQ(board.get("pse1_ctrl"), "0");
    EXPECT_EQ(board.get("mcu_led/1"), "0");
    EXPECT_EQ(board.get("pse2_ctrl"), std::nullopt);

    const Lines mcu = texts(board, "mcu");
    ASSERT_EQ(mcu.size(), 12u);
    EXPECT_EQ(mcu[0], "ms51_adc write 5 \"r 91\\n\" via=i2c-dev");
    EXPECT_EQ(mcu[1], "ms51_adc read 4 \"a2b\\n\" via=i2c-dev");
    EXPECT_EQ(mcu[7], "ms51_over_current read 2 \"5\\n\" via=palmbus");
    EXPECT_EQ(mcu[11], "ms51_reg write 6 \"bogus\\n\" via=palmbus err=EINVAL");
}

TEST(I2c, ReadsReturnTheEncodedCapabilityAndMissingOrSilentDevicesFail) {
    Board board;
    board.bank(1, 20.0, 3.0);
    ASSERT_EQ(board.tool({"bank", "2", "5", "3", "3"}).status, 0);
    // Capability 3 of the 5 V / 3 A bank sits at 0x0D + 4*3 = 0x19.
    EXPECT_EQ(probe(board, {"i2c 43 10 1", "i2c 43 11 3", "i2c 40 19 3", "i2c 41 10 1"}),
              "2 01\n2 2c 41 06\n2 2c 91 01\nerr=ENXIO\n");
    board.fault({"silent", "43"});
    EXPECT_EQ(probe(board, {"i2c 43 10 1", "i2c 40 10 1"}), "err=EREMOTEIO\n2 03\n");
    EXPECT_EQ(texts(board, "i2c"),
              (Lines{"43 2 0000:1:10 0001:1:01 ok", "43 2 0000:1:11 0001:3:2c4106 ok",
                     "40 2 0000:1:19 0001:3:2c9101 ok", "41 2 0000:1:10 0001:1: ENXIO",
                     "43 2 0000:1:10 0001:1: EREMOTEIO", "40 2 0000:1:10 0001:1:03 ok"}));
}

TEST(Gpio, ExportCreatesTheLineAndItsFilesBehaveLikeSysfs) {
    Board board;
    // The value before and after the export, a second export, values and
    // directions good and bad, a line beyond the board's.
    EXPECT_EQ(
        probe(
            board,
            {"r " + kGpio25 + "value", kExport + "25", kExport + "25", "r " + kGpio25 + "value",
             "w " + kGpio25 + "value 1", "w " + kGpio25 + "direction out\\0\\0\\0\\0\\0\\0\\0",
             "r " + kGpio25 + "direction", "w " + kGpio25 + "direction sideways", kExport + "64"}),
        "err=ENOENT\n2\nerr=EBUSY\n2 [1\n]\nerr=EPERM\n10\n4 [out\n]\nerr=EINVAL\nerr=EINVAL\n");
    // The value of GPIO 25 is the DC input.
    board.dc(false);
    EXPECT_EQ(probe(board, {"r " + kGpio25 + "value"}), "2 [0\n]\n");
    EXPECT_EQ(texts(board, "gpio"), (Lines{
                                        "export write 2 \"25\"",
                                        "export write 2 \"25\" err=EBUSY",
                                        "gpio25/value read 2 \"1\\n\"",
                                        "gpio25/value write 1 \"1\" err=EPERM",
                                        "gpio25/direction write 10 \"out\\0\\0\\0\\0\\0\\0\\0\"",
                                        "gpio25/direction read 4 \"out\\n\"",
                                        "gpio25/direction write 8 \"sideways\" err=EINVAL",
                                        "export write 2 \"64\" err=EINVAL",
                                        "gpio25/value read 2 \"0\\n\"",
                                    }));
}

TEST(Faults, FilesGoMissingOrFailUntilCleared) {
    Board board;
    probe(board, {kExport + "25"});
    board.fault({"missing", "ms51_adc"});
    board.fault({"eio-read", "gpio25/value"});
    board.fault({"eio-write", "usbc1"});
    // Only the named attribute is gone; there is no third port LED at all.
    EXPECT_EQ(probe(board, {"r " + kI2cDev + "ms51_adc", "w " + kPalmbus + "ms51_reg w b0 1 \\n",
                            "r " + kGpio25 + "value", "w " + kLed1 + " 255",
                            "w /sys/class/leds/usbc3/LineLedControl 0"}),
              "err=ENOENT\n8\nerr=EIO\nerr=EIO\nerr=ENOENT\n");
    EXPECT_EQ(board.get("led/usbc1"), std::nullopt);
    board.fault({"missing", "mcu"});
    EXPECT_EQ(probe(board, {"w " + kPalmbus + "ms51_reg w b0 1 \\n"}), "err=ENOENT\n");

    board.clear_faults();
    EXPECT_EQ(probe(board, {"r " + kI2cDev + "ms51_adc", "w " + kLed1 + " 255"}), "2 [0\n]\n3\n");
    EXPECT_EQ(board.get("led/usbc1"), "255");
    EXPECT_EQ(texts(board, "led"),
              (Lines{"usbc1 write 3 \"255\" err=EIO", "usbc1 write 3 \"255\""}));
}

TEST(VirtualTime, SleepsAreScaledAndStampsAreVirtual) {
    Board board;
    // Four 1000 s sleeps at speed 10000 take 0.4 s; unscaled, the run would
    // outlast the harness's limit on a helper and fail.
    EXPECT_EQ(probe(board, {"sleeps"}, 10000), "");
    const auto led = board.journal_find("led", "usbc1", "write");
    ASSERT_EQ(led.size(), 5u);
    for (size_t i = 1; i < led.size(); ++i) {
        EXPECT_GE(led[i].ms - led[i - 1].ms, 1000000) << "sleep " << i << " not in virtual ms";
    }
}

TEST(Sockets, DevicePathsMapIntoEachBoard) {
    // Two boards bind the same device path side by side.
    Board first;
    Board second;
    const Lines expected = {
        "powerbankserver bind 0 \"\"",
        "powerbankserver send 33 \"type=SendStatFile\\r\\nmsg=dcchange\\r\\n\"",
    };
    for (const Board *board : {&first, &second}) {
        EXPECT_EQ(probe(*board, {"sock"}), "33\n");
        EXPECT_EQ(access(board->path("run/powerbankserver.socket").c_str(), F_OK), 0);
        EXPECT_EQ(texts(*board, "sock"), expected);
    }
}

}  // namespace
