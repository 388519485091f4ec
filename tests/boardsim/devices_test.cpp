// The simulated kernel interfaces, seen from a program running on the board.
#include <gtest/gtest.h>
#include <time.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;
using scenario::JournalLine;

const std::string kI2cDevRoute = "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev/";
const std::string kPalmbusRoute =
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev/";

std::string probe(const Board &board, const std::vector<std::string> &args) {
    std::vector<std::string> argv = {PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    scenario::RunResult r = board.run_on_board(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
}

// The journal lines of one kind, without the stamp and the kind.
std::vector<std::string> texts(const Board &board, const std::string &kind) {
    std::vector<std::string> out;
    for (const JournalLine &line : board.journal_find(kind)) {
        out.push_back(line.text.substr(kind.size() + 1));
    }
    return out;
}

TEST(McuAttributes, RequestSelectsWhatTheNextReadReturns) {
    Board board;
    board.adc(0x91, 0xa2b);
    board.oc(5);
    // Every file answers on both routes.
    for (const std::string &route : {kI2cDevRoute, kPalmbusRoute}) {
        EXPECT_EQ(probe(board, {"mcu-read", route + "ms51_adc", "r 91\\n", "%x"}),
                  "got 1 value 2603\n");
        EXPECT_EQ(probe(board, {"mcu-read", route + "ms51_over_current", "r a9\\n", "%d"}),
                  "got 1 value 5\n");
    }
    // Writing 0 to register 0xa9 clears the latch.
    EXPECT_EQ(probe(board, {"write", kPalmbusRoute + "ms51_over_current", "w a9 0 \\n"}),
              "wrote 8\n");
    EXPECT_EQ(probe(board, {"mcu-read", kPalmbusRoute + "ms51_over_current", "r a9\\n", "%d"}),
              "got 1 value 0\n");
    // An unrequested channel reads its own count, not the last one's.
    board.cc(1, 2.2, 0.0);  // 2.2 V is count 2731 on CC1 of port 1 (channel 0x93)
    EXPECT_EQ(probe(board, {"mcu-read", kI2cDevRoute + "ms51_adc", "r 93\\n", "%x"}),
              "got 1 value 2731\n");

    std::vector<std::string> mcu = texts(board, "mcu");
    ASSERT_GE(mcu.size(), 4u);
    EXPECT_EQ(mcu[0], "ms51_adc write 5 \"r 91\\n\" via=i2c-dev");
    EXPECT_EQ(mcu[1], "ms51_adc read 4 \"a2b\\n\" via=i2c-dev");
    EXPECT_EQ(mcu[2], "ms51_over_current write 5 \"r a9\\n\" via=i2c-dev");
    EXPECT_EQ(mcu[3], "ms51_over_current read 2 \"5\\n\" via=i2c-dev");
}

TEST(McuAttributes, CommandsReachTheModelAndBadOnesAreRefused) {
    Board board;
    probe(board, {"write", kPalmbusRoute + "ms51_reg", "w b2 dc \\n"});
    probe(board, {"write", kI2cDevRoute + "ms51_pse1_ctrl", "0\\n"});
    probe(board, {"write", kI2cDevRoute + "ms51_ups_ctrl", "1\\n"});
    probe(board, {"write", kPalmbusRoute + "ms51_leds", "1 0\\n"});
    EXPECT_EQ(board.get("reg/b2"), "220");
    EXPECT_EQ(board.get("pse1_ctrl"), "0");
    EXPECT_EQ(board.get("ups_ctrl"), "1");
    EXPECT_EQ(board.get("mcu_led/1"), "0");
    EXPECT_EQ(board.get("pse2_ctrl"), std::nullopt);

    EXPECT_EQ(probe(board, {"write", kPalmbusRoute + "ms51_reg", "bogus\\n"}), "err=EINVAL\n");
    auto lines = board.journal_find("mcu", "ms51_reg");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "mcu ms51_reg write 9 \"w b2 dc \\n\" via=palmbus");
    EXPECT_EQ(lines[0].data(), "w b2 dc \n");
    EXPECT_EQ(lines[1].tag("err"), "EINVAL");
}

TEST(I2cBus, CombinedReadReturnsTheEncodedCapability) {
    Board board;
    board.bank(1, 20.0, 3.0);
    EXPECT_EQ(probe(board, {"i2c", "43", "10", "1"}), "ret 2 bytes 01\n");
    EXPECT_EQ(probe(board, {"i2c", "43", "11", "3"}), "ret 2 bytes 2c 41 06\n");
    // Capability 3 of a 5 V / 3 A bank sits at 0x0D + 4*3 = 0x19.
    ASSERT_EQ(board.tool({"bank", "2", "5", "3", "3"}).status, 0);
    EXPECT_EQ(probe(board, {"i2c", "40", "10", "1"}), "ret 2 bytes 03\n");
    EXPECT_EQ(probe(board, {"i2c", "40", "19", "3"}), "ret 2 bytes 2c 91 01\n");
    // Nothing attached: the selector reads 0.
    board.bank_none(1);
    EXPECT_EQ(probe(board, {"i2c", "43", "10", "1"}), "ret 2 bytes 00\n");

    std::vector<std::string> i2c = texts(board, "i2c");
    ASSERT_EQ(i2c.size(), 5u);
    EXPECT_EQ(i2c[1], "43 2 0000:1:11 0001:3:2c4106 ok");
    EXPECT_EQ(i2c[3], "40 2 0000:1:19 0001:3:2c9101 ok");
}

TEST(I2cBus, AbsentAndSilentDevicesFailTheTransfer) {
    Board board;
    board.bank(1, 20.0, 3.0);
    EXPECT_EQ(probe(board, {"i2c", "41", "10", "1"}), "err=ENXIO\n");
    board.fault({"silent", "43"});
    EXPECT_EQ(probe(board, {"i2c", "43", "10", "1"}), "err=EREMOTEIO\n");
    // The other controller still answers.
    EXPECT_EQ(probe(board, {"i2c", "40", "10", "1"}), "ret 2 bytes 00\n");
    board.clear_faults();
    EXPECT_EQ(probe(board, {"i2c", "43", "10", "1"}), "ret 2 bytes 01\n");
    ASSERT_EQ(board.tool({"i2c", "43", "none"}).status, 0);
    EXPECT_EQ(probe(board, {"i2c", "43", "10", "1"}), "err=ENXIO\n");

    std::vector<std::string> i2c = texts(board, "i2c");
    ASSERT_GE(i2c.size(), 2u);
    EXPECT_EQ(i2c[0], "41 2 0000:1:10 0001:1: ENXIO");
    EXPECT_EQ(i2c[1], "43 2 0000:1:10 0001:1: EREMOTEIO");
}

TEST(I2cBus, MessageLimitAndPlainReadWrite) {
    Board board;
    board.bank(1, 20.0, 3.0);
    // The kernel takes at most 42 messages in one transfer.
    EXPECT_EQ(probe(board, {"i2c-many", "42"}), "ret 42\n");
    EXPECT_EQ(probe(board, {"i2c-many", "43"}), "err=EINVAL\n");
    // read()/write() on the device after I2C_SLAVE: one message each.
    EXPECT_EQ(probe(board, {"i2c-plain", "43", "11", "3"}), "bytes 2c 41 06\n");
    EXPECT_EQ(probe(board, {"i2c-plain", "80", "11", "3"}), "err=EINVAL\n");
    std::vector<std::string> i2c = texts(board, "i2c");
    ASSERT_EQ(i2c.size(), 4u);
    EXPECT_EQ(i2c[2], "43 1 0000:1:11 ok");
    EXPECT_EQ(i2c[3], "43 1 0001:3:2c4106 ok");
}

TEST(Sysfs, AReadFromTheStartAsksTheDriverAgain) {
    Board board;
    board.adc(0x93, 0x123);
    const std::string adc = kI2cDevRoute + "ms51_adc";
    probe(board, {"write", adc, "r 93\n"});
    // 2 bytes, then the rest; after seeking back the whole answer; pread at 1.
    EXPECT_EQ(probe(board, {"reread", adc}), "[12] 2 [3\n] 2 [123\n] 4 [23\n] 3\n");
    // Only the reads from the start are the driver's answers in the journal.
    auto reads = board.journal_find("mcu", "ms51_adc", "read");
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].text, "mcu ms51_adc read 2 \"12\" via=i2c-dev");
    EXPECT_EQ(reads[1].text, "mcu ms51_adc read 4 \"123\\n\" via=i2c-dev");
    // A port LED reads back what was written.
    probe(board, {"write", "/sys/class/leds/usbc2/LineLedControl", "255"});
    EXPECT_EQ(probe(board, {"read", "/sys/class/leds/usbc2/LineLedControl"}), "read 4 [255\n]\n");
}

TEST(Gpio, ExportCreatesTheLineAndItsFilesBehaveLikeSysfs) {
    Board board;
    const std::string gpio25 = "/sys/class/gpio/gpio25/";
    EXPECT_EQ(probe(board, {"access", gpio25 + "value"}), "err=ENOENT\n");
    EXPECT_EQ(probe(board, {"write", "/sys/class/gpio/export", "25"}), "wrote 2\n");
    EXPECT_EQ(probe(board, {"access", gpio25 + "value"}), "exists\n");
    EXPECT_EQ(probe(board, {"write", "/sys/class/gpio/export", "25"}), "err=EBUSY\n");

    // The value of GPIO 25 is the DC input.
    EXPECT_EQ(probe(board, {"read", gpio25 + "value"}), "read 2 [1\n]\n");
    board.dc(false);
    EXPECT_EQ(probe(board, {"read", gpio25 + "value"}), "read 2 [0\n]\n");
    // An input refuses a value; the direction takes "out" with trailing NULs.
    EXPECT_EQ(probe(board, {"write", gpio25 + "value", "1"}), "err=EPERM\n");
    EXPECT_EQ(probe(board, {"write", gpio25 + "direction", "out\\0\\0\\0\\0\\0\\0\\0"}),
              "wrote 10\n");
    EXPECT_EQ(probe(board, {"read", gpio25 + "direction"}), "read 4 [out\n]\n");
    EXPECT_EQ(probe(board, {"write", gpio25 + "direction", "sideways"}), "err=EINVAL\n");
    EXPECT_EQ(probe(board, {"write", "/sys/class/gpio/export", "64"}), "err=EINVAL\n");
    std::vector<std::string> expected = {
        "export write 2 \"25\"",
        "export write 2 \"25\" err=EBUSY",
        "gpio25/value read 2 \"1\\n\"",
        "gpio25/value read 2 \"0\\n\"",
        "gpio25/value write 1 \"1\" err=EPERM",
        "gpio25/direction write 10 \"out\\0\\0\\0\\0\\0\\0\\0\"",
        "gpio25/direction read 4 \"out\\n\"",
        "gpio25/direction write 8 \"sideways\" err=EINVAL",
        "export write 2 \"64\" err=EINVAL",
    };
    // GPIO 19 is an output as soon as it is exported, written as the shell would
    // (a redirection: open, then dup2 onto standard output). The host's shell
    // cannot run under a cross build's emulator.
    if (!Board::emulated()) {
        scenario::RunResult r = board.run_on_board(
            {"/bin/sh", "-c",
             "echo 19 > /sys/class/gpio/export && printf 1 > /sys/class/gpio/gpio19/value"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(board.get("gpio19/value"), "1");
        expected.push_back("export write 3 \"19\\n\"");
        expected.push_back("gpio19/value write 1 \"1\"");
    }
    EXPECT_EQ(texts(board, "gpio"), expected);
}

TEST(Faults, MissingFilesAndFailingReadsAndWrites) {
    Board board;
    probe(board, {"write", "/sys/class/gpio/export", "25"});
    const std::string adc = kI2cDevRoute + "ms51_adc";
    const std::string led1 = "/sys/class/leds/usbc1/LineLedControl";

    board.fault({"missing", "ms51_adc"});
    EXPECT_EQ(probe(board, {"read", adc}), "err=ENOENT\n");
    EXPECT_EQ(probe(board, {"read", kPalmbusRoute + "ms51_adc"}), "err=ENOENT\n");
    EXPECT_EQ(probe(board, {"write", kPalmbusRoute + "ms51_reg", "w b0 1 \\n"}), "wrote 8\n");
    board.fault({"missing", "mcu"});
    EXPECT_EQ(probe(board, {"write", kPalmbusRoute + "ms51_reg", "w b0 1 \\n"}), "err=ENOENT\n");
    board.fault({"missing", "usbc2"});
    EXPECT_EQ(probe(board, {"write", "/sys/class/leds/usbc2/LineLedControl", "0"}), "err=ENOENT\n");
    // There is no third port LED at all.
    EXPECT_EQ(probe(board, {"access", "/sys/class/leds/usbc3/LineLedControl"}), "err=ENOENT\n");

    board.fault({"eio-read", "gpio25/value"});
    EXPECT_EQ(probe(board, {"read", "/sys/class/gpio/gpio25/value"}), "err=EIO\n");
    board.fault({"eio-write", "usbc1"});
    EXPECT_EQ(probe(board, {"write", led1, "255"}), "err=EIO\n");
    EXPECT_EQ(board.get("led/usbc1"), std::nullopt);

    board.clear_faults();
    EXPECT_EQ(probe(board, {"read", adc}), "read 2 [0\n]\n");
    EXPECT_EQ(probe(board, {"write", led1, "255"}), "wrote 3\n");
    EXPECT_EQ(board.get("led/usbc1"), "255");
    auto led = board.journal_find("led", "usbc1", "write");
    ASSERT_EQ(led.size(), 2u);
    EXPECT_EQ(led[0].text, "led usbc1 write 3 \"255\" err=EIO");
    EXPECT_EQ(led[1].text, "led usbc1 write 3 \"255\"");
}

TEST(VirtualTime, SleepsAreScaledAndStampsAreVirtual) {
    Board board;
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    scenario::RunResult r = board.run_on_board({PROBE, "sleeps"}, 1000);
    struct timespec end;
    clock_gettime(CLOCK_MONOTONIC, &end);
    ASSERT_EQ(r.status, 0) << r.err;
    // Four 5 s sleeps at speed 1000 are 20 ms of real time; an unscaled one
    // alone would take 5 s.
    EXPECT_LT(end.tv_sec - start.tv_sec, 5);

    auto led = board.journal_find("led", "usbc1", "write");
    ASSERT_EQ(led.size(), 5u);
    for (size_t i = 1; i < led.size(); ++i) {
        EXPECT_GE(led[i].ms - led[i - 1].ms, 5000) << "sleep " << i << " not in virtual ms";
    }
}

TEST(Sockets, DevicePathsMapIntoEachBoard) {
    // Two boards bind the same device path side by side.
    Board first;
    Board second;
    EXPECT_EQ(probe(first, {"sock"}), "received 33\n");
    EXPECT_EQ(probe(second, {"sock"}), "received 33\n");
    EXPECT_EQ(access(first.path("run/powerbankserver.socket").c_str(), F_OK), 0);
    std::vector<std::string> expected = {
        "powerbankserver bind 0 \"\"",
        "powerbankserver send 33 \"type=SendStatFile\\r\\nmsg=dcchange\\r\\n\"",
    };
    EXPECT_EQ(texts(first, "sock"), expected);
    EXPECT_EQ(texts(second, "sock"), expected);
}

TEST(Sockets, SendsOnAConnectedSocketAreJournalled) {
    Board board;
    EXPECT_EQ(probe(board, {"sock-connected"}), "sent 7 received 7\n");
    std::vector<std::string> expected = {
        "powerbankserver bind 0 \"\"",
        "powerbankserver send 3 \"one\"",
        "powerbankserver send 4 \"two!\"",
    };
    EXPECT_EQ(texts(board, "sock"), expected);
}

TEST(Threads, ConcurrentAccessKeepsEveryEffect) {
    Board board;
    probe(board, {"write", "/sys/class/gpio/export", "25"});
    EXPECT_EQ(probe(board, {"threads", "200"}), "done\n");
    // Every write and every read is there, each line whole.
    EXPECT_EQ(board.journal_find("led", "usbc1", "write").size(), 200u);
    EXPECT_EQ(board.journal_find("led", "usbc2", "write").size(), 200u);
    EXPECT_EQ(board.journal_find("gpio", "gpio25/value", "read").size(), 200u);
    for (const JournalLine &line : board.journal_find("led")) {
        EXPECT_EQ(line.data(), "255");
    }
}

}  // namespace
