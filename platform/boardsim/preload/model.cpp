#include "model.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context.h"

namespace boardsim {

namespace {

constexpr int kGpioCount = 64;
constexpr int kDcPin = 25;
// The board straps GPIO 19 as an output (low) when it is exported.
constexpr int kStrappedOutputPin = 19;

const char *const kGpioRoot = "/sys/class/gpio";
const char *const kLedPrefix = "/sys/class/leds/usbc";
const char *const kI2cDev = "/dev/i2c-0";
const char *const kMcuRoutes[] = {
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev",
    "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev",
};
const char *const kRouteTags[] = {"via=palmbus", "via=i2c-dev"};

enum McuFileIndex { kReg, kAdc, kOverCurrent, kPse1, kPse2, kUps, kLeds, kMcuFileCount };
const char *const kMcuFiles[kMcuFileCount] = {
    "ms51_reg",       "ms51_adc",      "ms51_over_current", "ms51_pse1_ctrl",
    "ms51_pse2_ctrl", "ms51_ups_ctrl", "ms51_leds",
};
// Model files of the three controls.
const char *const kControlFiles[] = {"mcu/pse1_ctrl", "mcu/pse2_ctrl", "mcu/ups_ctrl"};

// "N" at P followed by nothing or by '/': the number, else -1.
int parse_index(const char *p, const char **rest) {
    if (*p < '0' || *p > '9') {
        return -1;
    }
    int v = 0;
    while (*p >= '0' && *p <= '9' && v < 100000) {
        v = v * 10 + (*p++ - '0');
    }
    *rest = p;
    return v;
}

// PATH equals PREFIX or continues it with '/': the remainder (after the '/'
// or ""), else null.
const char *under(const char *path, const char *prefix) {
    size_t n = strlen(prefix);
    if (strncmp(path, prefix, n) != 0) {
        return nullptr;
    }
    if (path[n] == '\0') {
        return path + n;
    }
    return path[n] == '/' ? path + n + 1 : nullptr;
}

bool classify_gpio(const char *rest, Target *t) {
    t->node = Node::GpioRoot;
    t->pin = -1;  // nothing known under the root
    if (*rest == '\0') {
        return true;
    }
    if (strcmp(rest, "export") == 0) {
        t->node = Node::GpioExport;
        return true;
    }
    if (strcmp(rest, "unexport") == 0) {
        t->node = Node::GpioUnexport;
        return true;
    }
    if (strncmp(rest, "gpio", 4) != 0) {
        t->node = Node::GpioAttr;  // an unknown name: never exists
        t->attr = -1;
        return true;
    }
    const char *after = nullptr;
    int pin = parse_index(rest + 4, &after);
    t->node = Node::GpioAttr;
    t->attr = -1;
    if (pin < 0) {
        return true;
    }
    t->pin = pin;
    if (*after == '\0') {
        t->node = Node::GpioDir;
    } else if (strcmp(after, "/direction") == 0) {
        t->attr = kGpioDirection;
    } else if (strcmp(after, "/value") == 0) {
        t->attr = kGpioValue;
    }
    return true;
}

constexpr size_t kFaultFileMax = 4096;

bool fault_line_matches(const char *faults, const char *kind, const char *target) {
    size_t kl = strlen(kind);
    size_t tl = strlen(target);
    for (const char *line = faults; *line != '\0';) {
        const char *end = strchr(line, '\n');
        size_t len = end ? static_cast<size_t>(end - line) : strlen(line);
        if (len == kl + 1 + tl && strncmp(line, kind, kl) == 0 && line[kl] == ' ' &&
            strncmp(line + kl + 1, target, tl) == 0) {
            return true;
        }
        if (end == nullptr) {
            break;
        }
        line = end + 1;
    }
    return false;
}

// The fault names that cover T, most specific first; returns their count.
int fault_names(const Target &t, char names[3][32]) {
    switch (t.node) {
        case Node::GpioExport:
            snprintf(names[0], 32, "export");
            return 1;
        case Node::GpioUnexport:
            snprintf(names[0], 32, "unexport");
            return 1;
        case Node::GpioDir:
            snprintf(names[0], 32, "gpio%d", t.pin);
            return 1;
        case Node::GpioAttr:
            snprintf(names[0], 32, "gpio%d/%s", t.pin,
                     t.attr == kGpioValue ? "value" : "direction");
            snprintf(names[1], 32, "gpio%d", t.pin);
            return 2;
        case Node::McuDir:
            snprintf(names[0], 32, "mcu");
            return 1;
        case Node::McuFile:
            snprintf(names[0], 32, "%s", kMcuFiles[t.mcu]);
            snprintf(names[1], 32, "mcu");
            return 2;
        case Node::LedDir:
        case Node::LedFile:
            snprintf(names[0], 32, "usbc%d", t.led);
            return 1;
        case Node::I2cDev:
            snprintf(names[0], 32, "i2c-0");
            return 1;
        case Node::GpioRoot:
            return 0;
    }
    return 0;
}

bool any_fault(const Target &t, const char *kind) {
    char names[3][32];
    int n = fault_names(t, names);
    for (int i = 0; i < n; ++i) {
        if (fault_active(kind, names[i])) {
            return true;
        }
    }
    return false;
}

void gpio_path(char *out, size_t size, int pin, const char *leaf) {
    char rel[64];
    snprintf(rel, sizeof rel, "gpio/gpio%d%s%s", pin, leaf[0] ? "/" : "", leaf);
    if (!board_path(out, size, rel)) {
        out[0] = '\0';
    }
}

bool gpio_exported(int pin) {
    char path[kPathMax];
    gpio_path(path, sizeof path, pin, "");
    return path[0] != '\0' && sys_exists(path);
}

bool gpio_is_output(int pin) {
    char path[kPathMax];
    char buf[16];
    gpio_path(path, sizeof path, pin, "direction");
    return read_file(path, buf, sizeof buf) > 0 && strncmp(buf, "out", 3) == 0;
}

long board_number(const char *rel, long fallback) {
    char path[kPathMax];
    return board_path(path, sizeof path, rel) ? read_number(path, fallback) : fallback;
}

int board_store_number(const char *rel, long value) {
    char path[kPathMax];
    if (!board_path(path, sizeof path, rel)) {
        return -ENAMETOOLONG;
    }
    return write_number_atomic(path, value) == 0 ? 0 : -errno;
}

int board_store_text(const char *rel, const char *data, size_t len) {
    char path[kPathMax];
    if (!board_path(path, sizeof path, rel)) {
        return -ENAMETOOLONG;
    }
    return write_file_atomic(path, data, len) == 0 ? 0 : -errno;
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

ssize_t mcu_store(const Target &t, const char *text) {
    unsigned a = 0;
    unsigned b = 0;
    int d = 0;
    char rel[64];
    switch (t.mcu) {
        case kAdc:
        case kOverCurrent:
        case kReg:
            if (sscanf(text, "r %x", &a) == 1) {
                snprintf(rel, sizeof rel, "mcu/req/%s", kMcuFiles[t.mcu]);
                return board_store_number(rel, static_cast<long>(a));
            }
            if (t.mcu != kAdc && sscanf(text, "w %x %x", &a, &b) == 2) {
                snprintf(rel, sizeof rel, "mcu/reg/%02x", a);
                return board_store_number(rel, static_cast<long>(b));
            }
            return -EINVAL;
        case kPse1:
        case kPse2:
        case kUps:
            if (sscanf(text, "%d", &d) != 1) {
                return -EINVAL;
            }
            return board_store_number(kControlFiles[t.mcu - kPse1], d);
        case kLeds:
            if (sscanf(text, "%x %d", &a, &d) != 2) {
                return -EINVAL;
            }
            snprintf(rel, sizeof rel, "mcu/led/%x", a);
            return board_store_number(rel, d);
        default:
            return -EINVAL;
    }
}

ssize_t mcu_show(const Target &t, char *buf, size_t size) {
    char rel[64];
    if (t.mcu == kAdc) {
        long channel = board_number("mcu/req/ms51_adc", 0);
        snprintf(rel, sizeof rel, "in/adc/%02lx", channel);
        return snprintf(buf, size, "%lx\n", static_cast<unsigned long>(board_number(rel, 0)));
    }
    if (t.mcu == kOverCurrent) {
        long reg = board_number("mcu/req/ms51_over_current", 0);
        snprintf(rel, sizeof rel, "mcu/reg/%02lx", reg);
        return snprintf(buf, size, "%ld\n", board_number(rel, 0));
    }
    return 0;  // write-only attributes read empty
}

void journal_name(const Target &t, const char **kind, char *name, size_t size, const char **tags) {
    *tags = nullptr;
    switch (t.node) {
        case Node::GpioExport:
            *kind = "gpio";
            snprintf(name, size, "export");
            return;
        case Node::GpioUnexport:
            *kind = "gpio";
            snprintf(name, size, "unexport");
            return;
        case Node::GpioAttr:
            *kind = "gpio";
            snprintf(name, size, "gpio%d/%s", t.pin, t.attr == kGpioValue ? "value" : "direction");
            return;
        case Node::McuFile:
            *kind = "mcu";
            snprintf(name, size, "%s", kMcuFiles[t.mcu]);
            *tags = kRouteTags[t.route];
            return;
        case Node::LedFile:
            *kind = "led";
            snprintf(name, size, "usbc%d", t.led);
            return;
        default:
            *kind = "other";
            snprintf(name, size, "?");
            return;
    }
}

}  // namespace

bool classify(const char *path, Target *t) {
    *t = Target{};
    if (path == nullptr || path[0] != '/') {
        return false;
    }
    if (const char *rest = under(path, kGpioRoot)) {
        return classify_gpio(rest, t);
    }
    for (int r = 0; r < 2; ++r) {
        if (const char *rest = under(path, kMcuRoutes[r])) {
            t->route = r;
            t->node = Node::McuDir;
            if (*rest == '\0') {
                return true;
            }
            t->node = Node::McuFile;
            for (int i = 0; i < kMcuFileCount; ++i) {
                if (strcmp(rest, kMcuFiles[i]) == 0) {
                    t->mcu = i;
                }
            }
            return true;
        }
    }
    size_t lp = strlen(kLedPrefix);
    if (strncmp(path, kLedPrefix, lp) == 0) {
        const char *after = nullptr;
        t->led = parse_index(path + lp, &after);
        if (t->led < 0) {
            return false;  // some other LED of the host
        }
        t->node = Node::LedDir;
        if (*after == '\0') {
            return true;
        }
        t->node = Node::LedFile;
        if (strcmp(after, "/LineLedControl") != 0) {
            t->led = -1;  // an attribute the board does not have
        }
        return true;
    }
    if (strcmp(path, kI2cDev) == 0) {
        t->node = Node::I2cDev;
        return true;
    }
    return false;
}

bool fault_active(const char *kind, const char *target) {
    char path[kPathMax];
    char buf[kFaultFileMax];
    if (!board_path(path, sizeof path, "faults") || read_file(path, buf, sizeof buf) <= 0) {
        return false;
    }
    return fault_line_matches(buf, kind, target);
}

int node_missing(const Target &t) {
    switch (t.node) {
        case Node::GpioRoot:
            break;
        case Node::GpioExport:
        case Node::GpioUnexport:
            break;
        case Node::GpioDir:
            if (t.pin < 0 || t.pin >= kGpioCount || !gpio_exported(t.pin)) {
                return ENOENT;
            }
            break;
        case Node::GpioAttr:
            if (t.attr < 0 || t.pin < 0 || t.pin >= kGpioCount || !gpio_exported(t.pin)) {
                return ENOENT;
            }
            break;
        case Node::McuDir:
            break;
        case Node::McuFile:
            if (t.mcu < 0) {
                return ENOENT;
            }
            break;
        case Node::LedDir:
        case Node::LedFile:
            if (t.led != 1 && t.led != 2) {
                return ENOENT;
            }
            break;
        case Node::I2cDev:
            break;
    }
    return any_fault(t, "missing") ? ENOENT : 0;
}

bool node_is_dir(const Target &t) {
    return t.node == Node::GpioRoot || t.node == Node::GpioDir || t.node == Node::McuDir ||
           t.node == Node::LedDir;
}

int node_io_fault(const Target &t, bool write) {
    return any_fault(t, write ? "eio-write" : "eio-read") ? EIO : 0;
}

ssize_t node_show(const Target &t, char *buf, size_t size) {
    if (size == 0) {
        return 0;
    }
    buf[0] = '\0';
    ssize_t n = 0;
    switch (t.node) {
        case Node::GpioAttr:
            n = gpio_show(t, buf, size);
            break;
        case Node::McuFile:
            n = mcu_show(t, buf, size);
            break;
        case Node::LedFile: {
            char path[kPathMax];
            char rel[32];
            snprintf(rel, sizeof rel, "led/usbc%d", t.led);
            n = board_path(path, sizeof path, rel) ? read_file(path, buf, size - 1) : -1;
            if (n < 0) {
                n = snprintf(buf, size, "0");
            }
            if (static_cast<size_t>(n) + 1 < size) {
                buf[n++] = '\n';
                buf[n] = '\0';
            }
            break;
        }
        case Node::GpioExport:
        case Node::GpioUnexport:
            return -EACCES;  // write-only in sysfs
        default:
            return -EIO;
    }
    if (n < 0) {
        return -EIO;
    }
    return static_cast<size_t>(n) < size ? n : static_cast<ssize_t>(size - 1);
}

ssize_t node_store(const Target &t, const char *data, size_t len) {
    // sysfs hands the driver one NUL-terminated page per write call.
    char text[4096];
    size_t n = len < sizeof text - 1 ? len : sizeof text - 1;
    memcpy(text, data, n);
    text[n] = '\0';
    ssize_t r = -EIO;
    if (len >= sizeof text) {
        r = -EINVAL;
    } else if (int fault = node_io_fault(t, true)) {
        r = -fault;
    } else {
        switch (t.node) {
            case Node::GpioExport:
            case Node::GpioUnexport:
            case Node::GpioAttr:
                r = gpio_store(t, text);
                break;
            case Node::McuFile:
                r = mcu_store(t, text);
                break;
            case Node::LedFile: {
                char rel[32];
                snprintf(rel, sizeof rel, "led/usbc%d", t.led);
                r = board_store_text(rel, data, len);
                break;
            }
            default:
                r = -EIO;
                break;
        }
    }
    if (r == 0) {
        r = static_cast<ssize_t>(len);
    }
    const char *kind = nullptr;
    const char *tags = nullptr;
    char name[64];
    journal_name(t, &kind, name, sizeof name, &tags);
    journal_bytes(kind, name, "write", data, len, r < 0 ? static_cast<int>(-r) : 0, tags);
    return r;
}

void node_journal_read(const Target &t, const char *data, size_t len, int err) {
    const char *kind = nullptr;
    const char *tags = nullptr;
    char name[64];
    journal_name(t, &kind, name, sizeof name, &tags);
    journal_bytes(kind, name, "read", data, len, err, tags);
}

}  // namespace boardsim
