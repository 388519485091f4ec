// The state record, the kernel's i2c-dev structures and the LED table as the
// device's 32-bit CPU lays them out. A field that becomes `long` or a pointer
// changes size between the host and the device; a field moved out of order, a
// structure the kernel reads with a different layout, or an atomic that needs
// libatomic on the device all show here.
#include <gtest/gtest.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stddef.h>
#include <sys/un.h>

#include <cstring>

#include "core/state.h"
#include "led/led_table.h"

namespace {

// One field: where the record has it and where the device's layout puts it.
struct FieldLayout {
    const char *name;
    size_t offset, size;                    // in this build
    size_t expected_offset, expected_size;  // on the device
};

// clang-format off
#define PB_FIELD(f, offset, size) \
    { #f, offsetof(powerbank_state, f), sizeof(powerbank_state::f), offset, size }
// clang-format on

// Every field in the record's order: int and float are 4 bytes, double 8 and
// aligned to 8 on both the host and the device (MIPS o32 aligns doubles too).
TEST(StateLayout, FieldsHaveTheirFixedOffsetsAndSizes) {
    const FieldLayout fields[] = {
        PB_FIELD(dc_last_state, 0, 4),
        PB_FIELD(dc_current_state, 4, 4),
        PB_FIELD(powerbank1_last_connect_state, 8, 4),
        PB_FIELD(powerbank1_current_connect_state, 12, 4),
        PB_FIELD(powerbank2_last_connect_state, 16, 4),
        PB_FIELD(powerbank2_current_connect_state, 20, 4),
        PB_FIELD(powerbank1_voltage, 24, 8),
        PB_FIELD(powerbank1_electricity, 32, 8),
        PB_FIELD(powerbank2_voltage, 40, 8),
        PB_FIELD(powerbank2_electricity, 48, 8),
        PB_FIELD(powerbank_run_time_in_dc_disconnect, 56, 4),
        PB_FIELD(powerbank_run_time_in_dc_disconnect_max, 60, 4),
        PB_FIELD(powerbank1_cc1_samples, 64, 12),
        PB_FIELD(powerbank1_cc2_samples, 76, 12),
        PB_FIELD(powerbank2_cc1_samples, 88, 12),
        PB_FIELD(powerbank2_cc2_samples, 100, 12),
        PB_FIELD(cc_sample_index, 112, 4),
        PB_FIELD(powerbank1_cc1_electric_level, 116, 4),
        PB_FIELD(powerbank1_cc2_electric_level, 120, 4),
        PB_FIELD(powerbank2_cc1_electric_level, 124, 4),
        PB_FIELD(powerbank2_cc2_electric_level, 128, 4),
        PB_FIELD(powerbank1_cc1_electric_level_last, 132, 4),
        PB_FIELD(powerbank1_cc2_electric_level_last, 136, 4),
        PB_FIELD(powerbank2_cc1_electric_level_last, 140, 4),
        PB_FIELD(powerbank2_cc2_electric_level_last, 144, 4),
        PB_FIELD(powerbank_electric_quantity_equal_0, 148, 4),
        PB_FIELD(powerbank_run_time_in_electric_quantity_equal_0, 152, 4),
        PB_FIELD(powerbank1_type, 156, 4),
        PB_FIELD(powerbank2_type, 160, 4),
        PB_FIELD(over_current_state, 164, 4),
        PB_FIELD(poe1_switch, 168, 4),
        PB_FIELD(poe2_switch, 172, 4),
        PB_FIELD(ups_switch, 176, 4),
        PB_FIELD(over_current_check_count, 180, 4),
        PB_FIELD(over_current_check_now, 184, 4),
    };
    for (const FieldLayout &f : fields) {
        EXPECT_EQ(f.offset, f.expected_offset) << f.name;
        EXPECT_EQ(f.size, f.expected_size) << f.name;
    }
    // 188 bytes of fields, padded to the doubles' alignment.
    EXPECT_EQ(sizeof(powerbank_state), 192u);
    EXPECT_EQ(alignof(powerbank_state), 8u);
}

// The kernel reads the I2C_RDWR argument with the layout of the CPU it runs
// on: three 16-bit fields and a pointer per message, a pointer and a 32-bit
// count for the call. On the device a pointer is 4 bytes.
TEST(KernelLayout, I2cMessagesMatchTheDeviceKernel) {
    EXPECT_EQ(offsetof(i2c_msg, addr), 0u);
    EXPECT_EQ(offsetof(i2c_msg, flags), 2u);
    EXPECT_EQ(offsetof(i2c_msg, len), 4u);
    EXPECT_EQ(offsetof(i2c_msg, buf), 8u);
    EXPECT_EQ(sizeof(i2c_msg), sizeof(void *) == 4 ? 12u : 16u);
    EXPECT_EQ(sizeof(i2c_msg::len), 2u);

    EXPECT_EQ(offsetof(i2c_rdwr_ioctl_data, msgs), 0u);
    EXPECT_EQ(offsetof(i2c_rdwr_ioctl_data, nmsgs), sizeof(void *));
    EXPECT_EQ(sizeof(i2c_rdwr_ioctl_data::nmsgs), 4u);
    EXPECT_EQ(sizeof(i2c_rdwr_ioctl_data), sizeof(void *) == 4 ? 8u : 16u);
}

// The local messages go to an address whose length is the whole Unix address
// structure: 2 bytes of family and 108 of path.
TEST(KernelLayout, UnixAddressIsOneHundredTenBytes) {
    EXPECT_EQ(sizeof(sockaddr_un), 110u);
}

// The LED thread and the main thread share the table without a lock: each
// field must be a plain 16-bit load and store on the device, never a call
// into libatomic (which the daemon does not link).
TEST(LedTableLayout, FieldsAreLockFreeSixteenBitValues) {
    EXPECT_TRUE(std::atomic<uint16_t>::is_always_lock_free);
    EXPECT_EQ(sizeof(led_entry), 8u);
    EXPECT_EQ(sizeof(led_table), 16u);
}

// The build's CPU has the device's byte order (a big-endian MIPS toolchain
// would build and run under qemu-mips just as well).
TEST(ByteOrder, TargetIsLittleEndian) {
    const uint32_t word = 0x11223344;
    unsigned char bytes[4];
    std::memcpy(bytes, &word, sizeof bytes);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
}

}  // namespace
