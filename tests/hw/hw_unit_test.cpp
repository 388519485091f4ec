// The hardware layer's pure logic and the argument checks that return before
// any device file is touched, so these run on the host without a board.
#include <gtest/gtest.h>
#include <math.h>
#include <string.h>

#include <string>

#include "core/state.h"
#include "hw/gpio.h"
#include "hw/i2c.h"
#include "hw/mcu.h"
#include "power/over_current.h"

namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(AdcConversion, CountsBecomeVoltsThroughTheStatedPrecisions) {
    // Expected values are exact: count * 1/4096 in single precision, widened,
    // * 3.3 in double, rounded to single. Count 9 tells this apart from an
    // all-single-precision conversion (which gives 0x1.db3332p-8).
    struct {
        unsigned int raw;
        float volts;
        int level;
    } cases[] = {
        {0, 0.0f, 0},
        {9, 0x1.db3334p-8f, 0},
        {2048, 0x1.a66666p+0f, 0},  // 1.65 V
        {2730, 0x1.1988p+1f, 0},    // 2.19946 V: just under the level boundary
        {2731, 0x1.19a266p+1f, 1},  // 2.20027 V: just over it
        {4095, 0x1.a64cp+1f, 1},    // 3.29919 V
    };
    for (const auto &c : cases) {
        const float volts = mcu_adc_to_volts(c.raw);
        EXPECT_EQ(volts, c.volts) << "count " << c.raw << " gave " << volts;
        EXPECT_EQ(get_electric_level(volts), c.level) << "count " << c.raw;
    }
}

TEST(AdcConversion, LevelComparesTheWidenedValueWithTwoPointTwo) {
    // The float nearest 2.2 lies just above 2.2, the next one down below it.
    EXPECT_EQ(get_electric_level(2.2f), 1);
    EXPECT_EQ(get_electric_level(nextafterf(2.2f, 0.0f)), 0);
}

// Refused before the ioctl (a descriptor of -1 could only fail there) and
// before /dev/i2c-0 is opened; the 8-byte limit is checked on the board.
TEST(NullArguments, AreRefusedSilently) {
    CaptureStdout();
    EXPECT_EQ(i2c_write_reg(-1, 0x43, 0x10, nullptr, 1), -1);
    EXPECT_EQ(i2c_read_reg(-1, 0x43, 0x10, nullptr, 1), -1);
    EXPECT_EQ(i2c_read_reg_bus0(0x43, 0x10, nullptr, 1), -1);
    EXPECT_EQ(set_gpio25_direction(nullptr), -1);
    EXPECT_EQ(ms51_adc_read(0x91, nullptr), -1);
    EXPECT_EQ(ms51_over_current_read(0xa9, nullptr), -1);
    EXPECT_EQ(ms51_over_current_state_get(nullptr), -1);
    EXPECT_EQ(ms51_poe_ctrl_write(nullptr, 0), -1);
    EXPECT_EQ(GetCapturedStdout(), "");
}

TEST(GpioArguments, ValuePathIsBuiltOnlyForTheTwoLinesAndCutToTheBuffer) {
    char buf[10];
    EXPECT_EQ(get_gpio_value_path(25, buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string("/sys/clas\0", 10));
    char big[128];
    EXPECT_EQ(get_gpio_value_path(19, big, sizeof big), 0);
    EXPECT_STREQ(big, "/sys/class/gpio/gpio19/value");
    // A refused pin still zero-fills the buffer; no usable buffer is left alone.
    EXPECT_EQ(get_gpio_value_path(18, buf, sizeof buf), -1);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(10, '\0'));
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(get_gpio_value_path(25, buf, 0), -1);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(10, 'x'));
    EXPECT_EQ(get_gpio_value_path(25, nullptr, 10), -1);
}

}  // namespace
