#include "hw/i2c.h"

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>

#include "base/fd_io.h"

namespace {

constexpr const char kBus0Path[] = "/dev/i2c-0";

// A write frame is the register address followed by at most 8 data bytes.
constexpr unsigned int kMaxWriteData = 8;

// i2c_msg carries its length in 16 bits.
constexpr unsigned int kMaxMsgLen = 0xffff;
static_assert(sizeof(i2c_msg::len) == 2);
// The kernel reads the messages with its own CPU's layout: three 16-bit
// fields, padding and a pointer (12 bytes on the device's 32-bit CPU).
static_assert(sizeof(i2c_msg) == 8 + sizeof(void *) && offsetof(i2c_msg, buf) == 8);

void report_transfer_error() {
    puts("I2C_RDWR err ");
}

// One I2C_RDWR call over COUNT messages; the bus transaction is combined
// (repeated start between the messages).
[[nodiscard]] bool transfer(int fd, i2c_msg *msgs, unsigned int count) {
    i2c_rdwr_ioctl_data data{};
    data.msgs = msgs;
    data.nmsgs = count;
    return ::ioctl(fd, I2C_RDWR, &data) >= 0;
}

}  // namespace

int i2c_write_reg(int fd, uint16_t addr, uint8_t reg, const uint8_t *data, unsigned int len) {
    if (data == nullptr) {
        return -1;
    }
    if (len > kMaxWriteData) {
        puts("This function supports up to 8 bytes at a time !!!");
        return -1;
    }
    uint8_t frame[1 + kMaxWriteData] = {};
    frame[0] = reg;
    memcpy(frame + 1, data, len);

    i2c_msg msg{};
    msg.addr = addr;
    msg.flags = 0;
    msg.len = static_cast<uint16_t>(len + 1);
    msg.buf = frame;
    if (!transfer(fd, &msg, 1)) {
        report_transfer_error();
        return -1;
    }
    return 0;
}

int i2c_read_reg(int fd, uint16_t addr, uint8_t reg, uint8_t *buf, unsigned int len) {
    if (buf == nullptr) {
        return -1;
    }
    // A count that does not fit the message's 16-bit length cannot be asked
    // of the bus at all; it fails like a refused transfer rather than being
    // cut short silently.
    if (len > kMaxMsgLen) {
        report_transfer_error();
        return -1;
    }
    uint8_t reg_byte = reg;
    i2c_msg msgs[2] = {};
    msgs[0].addr = addr;
    msgs[0].flags = 0;
    msgs[0].len = 1;
    msgs[0].buf = &reg_byte;
    msgs[1].addr = addr;
    msgs[1].flags = I2C_M_RD;
    msgs[1].len = static_cast<uint16_t>(len);
    msgs[1].buf = buf;
    if (!transfer(fd, msgs, 2)) {
        report_transfer_error();
        return -1;
    }
    return 0;
}

int i2c_read_reg_bus0(uint16_t addr, uint8_t reg, uint8_t *buf, unsigned int len) {
    if (buf == nullptr) {
        return -1;
    }
    unique_fd fd = open_fd(kBus0Path, O_RDWR);
    if (!fd) {
        // Without a descriptor the transfer fails too, and says so.
        puts("open failed ");
        report_transfer_error();
        return 0;
    }
    // i2c_read_reg reports a failed transfer itself; the caller's zero-filled
    // buffer then stays as it was, which is the answer it reads.
    (void)i2c_read_reg(fd.get(), addr, reg, buf, len);
    return 0;
}
