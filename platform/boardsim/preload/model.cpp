#include "model.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "context.h"
#include "model_parts.h"

namespace boardsim {

namespace {

const char *const kGpioRoot = "/sys/class/gpio";
const char *const kLedPrefix = "/sys/class/leds/usbc";
const char *const kI2cDev = "/dev/i2c-0";
const char *const kMcuRoutes[] = {
    "/sys/devices/platform/1e000000.palmbus/1e000900.i2c/i2c-0/0-0051/ms51-dev",
    "/sys/class/i2c-dev/i2c-0/device/0-0051/ms51-dev",
};
const char *const kRouteTags[] = {"via=palmbus", "via=i2c-dev"};

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
