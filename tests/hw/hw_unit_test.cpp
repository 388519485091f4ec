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
    EXPECT_EQ(get_electric_level(2.19f), 0);
    EXPECT_EQ(get_electric_level(0.0f), 0);
    EXPECT_EQ(get_electric_level(3.3f), 1);
    EXPECT_EQ(get_electric_level(-1.0f), 0);
}

// A descriptor on which I2C_RDWR could only fail: a refused call must not
// reach the ioctl, so it never prints the transfer error.
constexpr int kBadFd = -1;

TEST(I2cArguments, RefusedCallsPrintOnlyTheirOwnMessage) {
    uint8_t data[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};

    CaptureStdout();
    EXPECT_EQ(i2c_write_reg(kBadFd, 0x43, 0x10, nullptr, 1), -1);
    EXPECT_EQ(i2c_read_reg(kBadFd, 0x43, 0x10, nullptr, 1), -1);
    // A null buffer is refused before /dev/i2c-0 would be opened.
    EXPECT_EQ(i2c_read_reg_bus0(0x43, 0x10, nullptr, 1), -1);
    EXPECT_EQ(GetCapturedStdout(), "");

    CaptureStdout();
    EXPECT_EQ(i2c_write_reg(kBadFd, 0x43, 0x10, data, 9), -1);
    EXPECT_EQ(GetCapturedStdout(), "This function supports up to 8 bytes at a time !!!\n");
}

TEST(GpioArguments, ValuePathIsBuiltOnlyForTheTwoLines) {
    char buf[10];

    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(get_gpio_value_path(25, buf, sizeof buf), 0);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string("/sys/clas\0", 10));

    char big[128];
    EXPECT_EQ(get_gpio_value_path(19, big, sizeof big), 0);
    EXPECT_STREQ(big, "/sys/class/gpio/gpio19/value");

    // A refused pin still zero-fills the buffer.
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(get_gpio_value_path(18, buf, sizeof buf), -1);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(10, '\0'));

    // No usable buffer: nothing is touched.
    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(get_gpio_value_path(25, buf, 0), -1);
    EXPECT_EQ(get_gpio_value_path(25, buf, -4), -1);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(10, 'x'));
    EXPECT_EQ(get_gpio_value_path(25, nullptr, 10), -1);
}

TEST(GpioArguments, RefusedPinsAndValues) {
    // A refused pin is silent; a refused value names the pin. Neither opens
    // a file (that half is checked on the board).
    struct {
        int pin;
        int value;
        const char *output;
    } cases[] = {
        {18, 1, ""},
        {-25, 0, ""},
        {18, 3, ""},  // the pin is checked first
        {19, -1, "set_gpio_value 19 val = 0/1/2\n"},
        {25, 1000, "set_gpio_value 25 val = 0/1/2\n"},
    };
    for (const auto &c : cases) {
        CaptureStdout();
        EXPECT_EQ(set_gpio_value(c.pin, c.value), -1) << c.pin << "/" << c.value;
        EXPECT_EQ(GetCapturedStdout(), c.output) << c.pin << "/" << c.value;
    }
    EXPECT_EQ(set_gpio25_direction(nullptr), -1);
}

TEST(McuArguments, NullOutValuesAndUnknownOutputsAreRefused) {
    EXPECT_EQ(ms51_adc_read(0x91, nullptr), -1);
    EXPECT_EQ(ms51_over_current_read(0xa9, nullptr), -1);
    EXPECT_EQ(ms51_over_current_state_get(nullptr), -1);
    for (const char *name :
         {static_cast<const char *>(nullptr), "poe_1", "POE_3", "POE_1 ", "", "POE", "UPS"}) {
        EXPECT_EQ(ms51_poe_ctrl_write(name, 0), -1) << (name ? name : "(null)");
    }
}

}  // namespace
