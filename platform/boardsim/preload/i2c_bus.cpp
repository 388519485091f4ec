#include "i2c_bus.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context.h"
#include "model.h"

namespace boardsim {

namespace {

constexpr unsigned kMaxMessages = 42;  // the kernel's I2C_RDWR_IOCTL_MAX_MSGS
constexpr unsigned kMaxLength = 8192;
constexpr size_t kJournalHexMax = 512;  // bytes shown per message

// Each device's register pointer lives on between transfers, as in the
// controllers: a plain write of the register number and a later plain read
// work as one combined transfer does. (Per process.)
unsigned g_pointer[128];

struct Device {
    bool present = false;
    unsigned char regs[256] = {};
};

// Loads i2c/AA: lines of "RR BB BB ..." (hex), each setting RR and onwards.
bool load_device(unsigned addr, Device *dev) {
    char rel[16];
    char path[kPathMax];
    char text[4096];
    snprintf(rel, sizeof rel, "i2c/%02x", addr);
    if (!board_path(path, sizeof path, rel) || read_file(path, text, sizeof text) < 0) {
        return false;
    }
    dev->present = true;
    char *save = nullptr;
    for (char *line = strtok_r(text, "\n", &save); line != nullptr;
         line = strtok_r(nullptr, "\n", &save)) {
        char *p = line;
        char *end = nullptr;
        unsigned long reg = strtoul(p, &end, 16);
        if (end == p || reg > 0xff) {
            continue;
        }
        p = end;
        for (;;) {
            unsigned long byte = strtoul(p, &end, 16);
            if (end == p || reg > 0xff) {
                break;
            }
            dev->regs[reg++] = static_cast<unsigned char>(byte);
            p = end;
        }
    }
    return true;
}

size_t append(char *out, size_t size, size_t at, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
size_t append(char *out, size_t size, size_t at, const char *fmt, ...) {
    if (at >= size) {
        return at;
    }
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(out + at, size - at, fmt, ap);
    va_end(ap);
    if (n < 0) {
        return at;
    }
    return at + static_cast<size_t>(n) < size ? at + static_cast<size_t>(n) : size - 1;
}

// One line per transfer; SHOWN messages are listed (none for a refused request).
void journal_transfer(const struct i2c_msg *msgs, unsigned count, unsigned shown, int done,
                      int err) {
    static const char kHex[] = "0123456789abcdef";
    char line[7000];
    size_t at = append(line, sizeof line, 0, "i2c %02x %u",
                       count > 0 && msgs != nullptr ? msgs[0].addr : 0, count);
    for (unsigned i = 0; i < shown; ++i) {
        const struct i2c_msg &m = msgs[i];
        at = append(line, sizeof line, at, " %04x:%u:", m.flags, m.len);
        bool show = (m.flags & I2C_M_RD) == 0 || static_cast<int>(i) < done;
        if (show && m.buf != nullptr) {
            size_t n = m.len < kJournalHexMax ? m.len : kJournalHexMax;
            for (size_t b = 0; b < n && at + 3 < sizeof line; ++b) {
                line[at++] = kHex[m.buf[b] >> 4];
                line[at++] = kHex[m.buf[b] & 15];
            }
            line[at] = '\0';
            if (n < m.len) {
                at = append(line, sizeof line, at, "...");
            }
        }
    }
    char ebuf[24];
    append(line, sizeof line, at, " %s", err == 0 ? "ok" : errno_name(err, ebuf, sizeof ebuf));
    journal(line);
}

}  // namespace

int i2c_transfer(struct i2c_msg *msgs, unsigned count) {
    if (count > kMaxMessages) {
        journal_transfer(msgs, count, 0, 0, EINVAL);
        return -EINVAL;
    }
    if (msgs == nullptr && count > 0) {
        return -EFAULT;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (msgs[i].len > kMaxLength || (msgs[i].buf == nullptr && msgs[i].len > 0)) {
            journal_transfer(msgs, count, 0, 0, msgs[i].len > kMaxLength ? EINVAL : EFAULT);
            return msgs[i].len > kMaxLength ? -EINVAL : -EFAULT;
        }
    }
    // One device model per address within the transaction: the register
    // pointer carries over from a write message to the read that follows.
    Device dev;
    unsigned pointer = 0;
    // (Callers hold the descriptor lock, which also guards g_pointer.)
    int loaded_addr = -1;
    int err = 0;
    unsigned done = 0;
    for (; done < count; ++done) {
        struct i2c_msg &m = msgs[done];
        if (static_cast<int>(m.addr) != loaded_addr) {
            char name[8];
            snprintf(name, sizeof name, "%02x", m.addr);
            if (loaded_addr >= 0) {
                g_pointer[loaded_addr & 0x7f] = pointer;
            }
            dev = Device{};
            pointer = g_pointer[m.addr & 0x7f];
            if (!load_device(m.addr, &dev)) {
                err = ENXIO;
                break;
            }
            if (fault_active("silent", name)) {
                err = EREMOTEIO;
                break;
            }
            loaded_addr = m.addr;
        }
        if (m.flags & I2C_M_RD) {
            for (unsigned b = 0; b < m.len; ++b) {
                m.buf[b] = dev.regs[pointer & 0xff];
                pointer = (pointer + 1) & 0xff;
            }
        } else if (m.len > 0) {
            // The first byte selects the register; the model keeps its
            // registers as the board directory says, so data bytes are only
            // acknowledged.
            pointer = m.buf[0];
        }
    }
    if (loaded_addr >= 0) {
        g_pointer[loaded_addr & 0x7f] = pointer;
    }
    journal_transfer(msgs, count, count, static_cast<int>(done), err);
    return err == 0 ? static_cast<int>(count) : -err;
}

}  // namespace boardsim
