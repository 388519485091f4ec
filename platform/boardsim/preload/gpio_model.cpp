// sysfs GPIO as the kernel offers it: export, unexport, direction and value.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context.h"
#include "model_parts.h"

namespace boardsim {

namespace {

constexpr int kDcPin = 25;
// The board straps GPIO 19 as an output (low) when it is exported.
constexpr int kStrappedOutputPin = 19;

void gpio_path(char *out, size_t size, int pin, const char *leaf) {
    char rel[64];
    snprintf(rel, sizeof rel, "gpio/gpio%d%s%s", pin, leaf[0] ? "/" : "", leaf);
    if (!board_path(out, size, rel)) {
        out[0] = '\0';
    }
}

bool gpio_is_output(int pin) {
    char path[kPathMax];
    char buf[16];
    gpio_path(path, sizeof path, pin, "direction");
    return read_file(path, buf, sizeof buf) > 0 && strncmp(buf, "out", 3) == 0;
}

// The kernel's kstrtol: a whole number (base prefix allowed), at most one
// trailing newline. TEXT is NUL-terminated.
bool kstrtol(const char *text, long *out) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(text, &end, 0);
    if (end == text || errno != 0 || text[0] == ' ' || text[0] == '\t') {
        return false;
    }
    if (*end == '\n') {
        ++end;
    }
    if (*end != '\0') {
        return false;
    }
    *out = v;
    return true;
}

// The kernel's sysfs_streq for the direction words.
bool streq_nl(const char *text, const char *word) {
    size_t n = strlen(word);
    return strncmp(text, word, n) == 0 &&
           (text[n] == '\0' || (text[n] == '\n' && text[n + 1] == '\0'));
}

}  // namespace

bool gpio_exported(int pin) {
    char path[kPathMax];
    gpio_path(path, sizeof path, pin, "");
    return path[0] != '\0' && sys_exists(path);
}

ssize_t gpio_store(const Target &t, const char *text) {
    long v = 0;
    switch (t.node) {
        case Node::GpioExport: {
            if (!kstrtol(text, &v) || v < 0 || v >= kGpioCount) {
                return -EINVAL;
            }
            int pin = static_cast<int>(v);
            if (gpio_exported(pin)) {
                return -EBUSY;
            }
            char path[kPathMax];
            bool out = pin == kStrappedOutputPin;
            gpio_path(path, sizeof path, pin, "value");
            if (write_file_atomic(path, "0\n", 2) != 0) {
                return -EIO;
            }
            gpio_path(path, sizeof path, pin, "direction");
            if (write_file_atomic(path, out ? "out\n" : "in\n", out ? 4 : 3) != 0) {
                return -EIO;
            }
            return 0;
        }
        case Node::GpioUnexport: {
            if (!kstrtol(text, &v) || v < 0 || v >= kGpioCount ||
                !gpio_exported(static_cast<int>(v))) {
                return -EINVAL;
            }
            char path[kPathMax];
            int pin = static_cast<int>(v);
            gpio_path(path, sizeof path, pin, "value");
            sys_unlink(path);
            gpio_path(path, sizeof path, pin, "direction");
            sys_unlink(path);
            gpio_path(path, sizeof path, pin, "");
            sys_rmdir(path);
            return 0;
        }
        case Node::GpioAttr: {
            char path[kPathMax];
            if (t.attr == kGpioDirection) {
                bool high = streq_nl(text, "high");
                bool low = streq_nl(text, "low") || streq_nl(text, "out");
                if (!high && !low && !streq_nl(text, "in")) {
                    return -EINVAL;
                }
                if (high || low) {
                    gpio_path(path, sizeof path, t.pin, "value");
                    if (write_file_atomic(path, high ? "1\n" : "0\n", 2) != 0) {
                        return -EIO;
                    }
                }
                gpio_path(path, sizeof path, t.pin, "direction");
                bool out = high || low;
                return write_file_atomic(path, out ? "out\n" : "in\n", out ? 4 : 3) == 0 ? 0 : -EIO;
            }
            if (!gpio_is_output(t.pin)) {
                return -EPERM;
            }
            if (!kstrtol(text, &v)) {
                return -EINVAL;
            }
            gpio_path(path, sizeof path, t.pin, "value");
            return write_file_atomic(path, v != 0 ? "1\n" : "0\n", 2) == 0 ? 0 : -EIO;
        }
        default:
            return -EIO;
    }
}

ssize_t gpio_show(const Target &t, char *buf, size_t size) {
    if (t.attr == kGpioDirection) {
        return snprintf(buf, size, "%s\n", gpio_is_output(t.pin) ? "out" : "in");
    }
    int level = 0;
    char path[kPathMax];
    char tmp[16];
    if (gpio_is_output(t.pin)) {
        gpio_path(path, sizeof path, t.pin, "value");
        level = read_file(path, tmp, sizeof tmp) > 0 && tmp[0] == '1';
    } else if (t.pin == kDcPin) {
        level = board_path(path, sizeof path, "in/dc") && read_file(path, tmp, sizeof tmp) > 0 &&
                tmp[0] == '1';
    }
    return snprintf(buf, size, "%d\n", level);
}

}  // namespace boardsim
