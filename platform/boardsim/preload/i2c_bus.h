// I2C bus 0 as /dev/i2c-0 shows it: the two USB-PD controllers, the device at
// 0x53 and whatever else the board directory describes in i2c/AA.
#pragma once

#include <linux/i2c.h>

namespace boardsim {

// Performs one combined transaction the way the I2C_RDWR ioctl does: the
// message count on success, or -errno (ENXIO for an address with no device,
// EREMOTEIO for a device made silent, EINVAL for a malformed request).
// Journals the transaction as one line.
int i2c_transfer(struct i2c_msg *msgs, unsigned count);

}  // namespace boardsim
