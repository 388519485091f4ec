// The hardware layer's pure logic: the ADC conversion and the level it gives,
// in-process without a board.
#include <gtest/gtest.h>
#include <math.h>

#include "hw/mcu.h"

namespace {

TEST(AdcConversion, CountsBecomeVoltsThroughTheStatedPrecisionsAndTheirLevel) {
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
    // The level compares the widened value with 2.2: the float below the one
    // nearest 2.2 (which lies just above 2.2) is low.
    EXPECT_EQ(get_electric_level(nextafterf(2.2f, 0.0f)), 0);
}

}  // namespace
