// Register access to devices on I2C bus 0 through i2c-dev's I2C_RDWR.
#pragma once

#include <stdint.h>

// Writes LEN (0 to 8) data bytes behind register REG of device ADDR in one
// message. 0 on success; -1 for null data, a length above 8 (with a message)
// or a failed transfer. FD stays open.
int i2c_write_reg(int fd, uint16_t addr, uint8_t reg, const uint8_t *data, unsigned int len);

// Reads LEN bytes from register REG of device ADDR in one combined transfer
// (register write, repeated start, read). 0 on success; -1 for a null buffer
// or a failed transfer. FD stays open.
int i2c_read_reg(int fd, uint16_t addr, uint8_t reg, uint8_t *buf, unsigned int len);

// As i2c_read_reg on /dev/i2c-0, opened and closed for this one read. -1 for a
// null buffer (the device is not opened); otherwise 0 whether or not the
// transfer took place, so callers zero-fill BUF first: a failed read reads as
// zeros.
int i2c_read_reg_bus0(uint16_t addr, uint8_t reg, uint8_t *buf, unsigned int len);
