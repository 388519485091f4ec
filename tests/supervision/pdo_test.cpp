// Decoding of an RT1719 source capability: voltage in bits 19..10 (50 mV),
// maximum current in bits 9..0 (10 mA), little-endian bytes b0 b1 b2.
#include <gtest/gtest.h>

#include "bank/rt1719.h"

namespace {

TEST(PdoDecoding, VoltageAndCurrentFromTheLowThreeBytes) {
    struct {
        uint8_t b0, b1, b2;
        double volts, amps;
    } cases[] = {
        {0x2C, 0x41, 0x06, 20.00, 3.00},  // 400 x 50 mV, 300 x 10 mA
        // Every field bit set: 1023 x 50 mV and 1023 x 10 mA; the supply-type
        // bits above bit 19 (b2's high nibble) never leak into the voltage.
        {0xFF, 0xFF, 0xFF, 51.15, 10.23},
        {0xFF, 0x03, 0xF0, 0.00, 10.23},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << std::hex << "bytes " << int(c.b0) << " " << int(c.b1) << " " << int(c.b2));
        EXPECT_DOUBLE_EQ(rt1719_pdo_voltage(c.b0, c.b1, c.b2), c.volts);
        EXPECT_DOUBLE_EQ(rt1719_pdo_current(c.b0, c.b1), c.amps);
    }
}

}  // namespace
