// init and the input verbs.
#include <dirent.h>
#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "board_files.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

struct PortInfo {
    unsigned addr;  // RT1719 address
    unsigned cc1;   // ADC channel of CC1
    unsigned cc2;   // ADC channel of CC2
};
// Port 1: controller 0x43, CC lines on channels 0x93/0x94; port 2: 0x40, 0x90/0x97.
const PortInfo kPorts[2] = {{0x43, 0x93, 0x94}, {0x40, 0x90, 0x97}};
constexpr unsigned kSelectorReg = 0x10;
constexpr unsigned kAdcFullScale = 4096;
constexpr double kAdcVolts = 3.3;

bool put(const char *dir, const char *rel, const char *text) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, rel) ||
        write_file_atomic(path, text, strlen(text)) != 0) {
        fprintf(stderr, "boardsim: cannot write %s/%s: %s\n", dir, rel, strerror(errno));
        return false;
    }
    return true;
}

bool put_number(const char *dir, const char *rel, long value) {
    char text[32];
    snprintf(text, sizeof text, "%ld\n", value);
    return put(dir, rel, text);
}

void remove_tree(const char *path) {
    DIR *d = opendir(path);
    if (d == nullptr) {
        unlink(path);
        return;
    }
    while (struct dirent *e = readdir(d)) {
        if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) {
            continue;
        }
        char child[kPathMax];
        if (path_join(child, sizeof child, path, e->d_name)) {
            remove_tree(child);
        }
    }
    closedir(d);
    rmdir(path);
}

// Whole-string numbers.
bool parse_long(const char *s, int base, long *out) {
    char *end = nullptr;
    errno = 0;
    long v = strtol(s, &end, base);
    if (end == s || *end != '\0' || errno != 0) {
        return false;
    }
    *out = v;
    return true;
}

bool parse_double(const char *s, double *out) {
    char *end = nullptr;
    double v = strtod(s, &end);
    if (end == s || *end != '\0' || !isfinite(v)) {
        return false;
    }
    *out = v;
    return true;
}

bool parse_port(const char *s, const PortInfo **port) {
    long p = 0;
    if (!parse_long(s, 10, &p) || p < 1 || p > 2) {
        return false;
    }
    *port = &kPorts[p - 1];
    return true;
}

int volts_to_count(double volts) {
    long count = lround(volts * kAdcFullScale / kAdcVolts);
    return static_cast<int>(count < 0 ? 0 : count > 4095 ? 4095 : count);
}

int verb_bank(const char *dir, int argc, char **argv) {
    const PortInfo *port = nullptr;
    if (argc < 3 || !parse_port(argv[1], &port)) {
        return usage("bank PORT none | bank PORT VOLTS AMPS [N]");
    }
    char rel[16];
    char text[128];
    snprintf(rel, sizeof rel, "i2c/%02x", port->addr);
    if (argc == 3 && strcmp(argv[2], "none") == 0) {
        snprintf(text, sizeof text, "%02x 00\n", kSelectorReg);
        return put(dir, rel, text) ? kOk : kFailed;
    }
    double volts = 0;
    double amps = 0;
    long n = 1;
    if ((argc != 4 && argc != 5) || !parse_double(argv[2], &volts) ||
        !parse_double(argv[3], &amps) || (argc == 5 && !parse_long(argv[4], 10, &n))) {
        return usage("bank PORT VOLTS AMPS [N]");
    }
    // A fixed-supply capability: bits 19..10 voltage in 50 mV, 9..0 current in 10 mA.
    long vfield = lround(volts / 0.05);
    long ifield = lround(amps / 0.01);
    if (vfield < 0 || vfield > 1023 || ifield < 0 || ifield > 1023 || n < 1 || n > 7) {
        return usage("VOLTS 0..51.15, AMPS 0..10.23, N 1..7");
    }
    unsigned long pdo =
        (static_cast<unsigned long>(vfield) << 10) | static_cast<unsigned long>(ifield);
    snprintf(text, sizeof text, "%02x %02lx\n%02lx %02lx %02lx %02lx 00\n", kSelectorReg,
             static_cast<unsigned long>(n), 0x0dUL + 4 * static_cast<unsigned long>(n), pdo & 0xff,
             (pdo >> 8) & 0xff, (pdo >> 16) & 0xff);
    return put(dir, rel, text) ? kOk : kFailed;
}

int verb_cc(const char *dir, int argc, char **argv) {
    const PortInfo *port = nullptr;
    double v1 = 0;
    double v2 = 0;
    if (argc != 4 || !parse_port(argv[1], &port) || !parse_double(argv[2], &v1) ||
        !parse_double(argv[3], &v2)) {
        return usage("cc PORT V1 V2");
    }
    char rel[32];
    snprintf(rel, sizeof rel, "in/adc/%02x", port->cc1);
    if (!put_number(dir, rel, volts_to_count(v1))) {
        return kFailed;
    }
    snprintf(rel, sizeof rel, "in/adc/%02x", port->cc2);
    return put_number(dir, rel, volts_to_count(v2)) ? kOk : kFailed;
}

int verb_i2c(const char *dir, int argc, char **argv) {
    long addr = 0;
    if (argc < 3 || !parse_long(argv[1], 16, &addr) || addr < 0 || addr > 0x7f) {
        return usage("i2c ADDR none | i2c ADDR REG BYTE...");
    }
    char path[kPathMax];
    char rel[16];
    snprintf(rel, sizeof rel, "i2c/%02lx", addr);
    if (!path_join(path, sizeof path, dir, rel)) {
        return kFailed;
    }
    if (argc == 3 && strcmp(argv[2], "none") == 0) {
        unlink(path);
        return kOk;
    }
    if (argc < 4) {
        return usage("i2c ADDR REG BYTE...");
    }
    // Later lines win, so the new bytes go at the end.
    char text[4096];
    ssize_t len = read_file(path, text, sizeof text);
    size_t at = len > 0 ? static_cast<size_t>(len) : 0;
    for (int i = 2; i < argc; ++i) {
        long v = 0;
        if (!parse_long(argv[i], 16, &v) || v < 0 || v > 0xff) {
            return usage("register and bytes are hex 00..ff");
        }
        int n = snprintf(text + at, sizeof text - at, "%02lx%s", v, i + 1 < argc ? " " : "\n");
        if (n < 0 || static_cast<size_t>(n) >= sizeof text - at) {
            fprintf(stderr, "boardsim: register file of %02lx too long\n", addr);
            return kFailed;
        }
        at += static_cast<size_t>(n);
    }
    return write_file_atomic(path, text, at) == 0 ? kOk : kFailed;
}

int verb_fault(const char *dir, int argc, char **argv) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, "faults")) {
        return kFailed;
    }
    if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        unlink(path);
        return kOk;
    }
    bool clear = argc == 4 && strcmp(argv[1], "clear") == 0;
    const char *kind = clear ? argv[2] : argc == 3 ? argv[1] : nullptr;
    const char *target = clear ? argv[3] : argc == 3 ? argv[2] : nullptr;
    static const char *const kKinds[] = {"missing", "eio-read", "eio-write", "silent"};
    bool known = false;
    for (const char *k : kKinds) {
        known = known || (kind != nullptr && strcmp(kind, k) == 0);
    }
    if (!known || target[0] == '\0' || strchr(target, ' ') || strchr(target, '\n')) {
        return usage("fault missing|eio-read|eio-write TARGET | fault silent ADDR | fault clear");
    }
    char line[256];
    snprintf(line, sizeof line, "%s %s", kind, target);
    if (strcmp(kind, "silent") == 0) {
        long addr = 0;
        if (!parse_long(target, 16, &addr) || addr < 0 || addr > 0x7f) {
            return usage("fault silent ADDR (hex)");
        }
        snprintf(line, sizeof line, "silent %02lx", addr);
    }
    char text[4096];
    char out[4096];
    ssize_t len = read_file(path, text, sizeof text);
    size_t at = 0;
    if (len > 0) {
        char *save = nullptr;
        for (char *l = strtok_r(text, "\n", &save); l; l = strtok_r(nullptr, "\n", &save)) {
            if (strcmp(l, line) != 0) {
                at += static_cast<size_t>(snprintf(out + at, sizeof out - at, "%s\n", l));
            }
        }
    }
    if (!clear) {
        at += static_cast<size_t>(snprintf(out + at, sizeof out - at, "%s\n", line));
    }
    if (at >= sizeof out) {
        return kFailed;
    }
    return write_file_atomic(path, out, at) == 0 ? kOk : kFailed;
}

}  // namespace

bool is_board(const char *dir) {
    Clock clock;
    return read_clock(dir, &clock);
}

void journal_input(const char *dir, const char *verb, int argc, char **argv) {
    Clock clock;
    if (!read_clock(dir, &clock)) {
        return;
    }
    char args[1024];
    size_t at = 0;
    args[0] = '\0';
    for (int i = 1; i < argc && at < sizeof args; ++i) {
        int n = snprintf(args + at, sizeof args - at, "%s%s", i > 1 ? " " : "", argv[i]);
        if (n < 0) {
            break;
        }
        at += static_cast<size_t>(n);
    }
    if (at >= sizeof args) {
        at = sizeof args - 1;
    }
    journal_data(dir, clock, "input", verb, "set", args, at, 0, nullptr);
}

int cmd_init(const char *dir) {
    if (mkdirs(dir) != 0) {
        fprintf(stderr, "boardsim: cannot create %s: %s\n", dir, strerror(errno));
        return kFailed;
    }
    // A fresh model; the store (config/, status/) is left as it is.
    static const char *const kModel[] = {"gpio", "mcu", "led",    "in",
                                         "i2c",  "run", "faults", "journal"};
    for (const char *rel : kModel) {
        char path[kPathMax];
        if (path_join(path, sizeof path, dir, rel)) {
            remove_tree(path);
        }
    }
    static const char *const kDirs[] = {"config", "status",  "run", "in/adc",
                                        "gpio",   "mcu/reg", "led"};
    for (const char *rel : kDirs) {
        char path[kPathMax];
        if (!path_join(path, sizeof path, dir, rel) || mkdirs(path) != 0) {
            fprintf(stderr, "boardsim: cannot create %s/%s: %s\n", dir, rel, strerror(errno));
            return kFailed;
        }
    }
    char text[32];
    snprintf(text, sizeof text, "%02x 00\n", kSelectorReg);
    bool ok = put(dir, "in/dc", "1\n") && put(dir, "i2c/43", text) && put(dir, "i2c/40", text) &&
              put(dir, "i2c/53", "1c 00\n") && put_number(dir, "mcu/reg/a9", 0) &&
              put(dir, "journal", "");
    Clock clock;
    clock.epoch_ns = mono_ns();
    clock.speed = 1.0;
    if (!ok || write_clock(dir, clock) != 0) {
        return kFailed;
    }
    return kOk;
}

int cmd_input(const char *dir, int argc, char **argv) {
    const char *verb = argv[0];
    int status = kUsage;
    if (strcmp(verb, "dc") == 0) {
        if (argc != 2 || (strcmp(argv[1], "0") != 0 && strcmp(argv[1], "1") != 0)) {
            return usage("dc 0|1");
        }
        status = put(dir, "in/dc", argv[1][0] == '1' ? "1\n" : "0\n") ? kOk : kFailed;
    } else if (strcmp(verb, "bank") == 0) {
        status = verb_bank(dir, argc, argv);
    } else if (strcmp(verb, "cc") == 0) {
        status = verb_cc(dir, argc, argv);
    } else if (strcmp(verb, "adc") == 0) {
        long channel = 0;
        long count = 0;
        if (argc != 3 || !parse_long(argv[1], 16, &channel) || channel < 0 || channel > 0xff ||
            !parse_long(argv[2], 0, &count) || count < 0 || count > 0xffff) {
            return usage("adc CHANNEL(hex) COUNT");
        }
        char rel[32];
        snprintf(rel, sizeof rel, "in/adc/%02lx", channel);
        status = put_number(dir, rel, count) ? kOk : kFailed;
    } else if (strcmp(verb, "oc") == 0) {
        long bits = 0;
        if (argc != 2 || !parse_long(argv[1], 0, &bits) || bits < 0 || bits > 0xff) {
            return usage("oc BITS (0..255)");
        }
        status = put_number(dir, "mcu/reg/a9", bits) ? kOk : kFailed;
    } else if (strcmp(verb, "i2c") == 0) {
        status = verb_i2c(dir, argc, argv);
    } else if (strcmp(verb, "fault") == 0) {
        status = verb_fault(dir, argc, argv);
    } else {
        return usage("unknown verb");
    }
    if (status == kOk) {
        journal_input(dir, verb, argc, argv);
    }
    return status;
}

}  // namespace boardsim_tool
