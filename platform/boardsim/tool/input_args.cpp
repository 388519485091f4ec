// Parsing of the input verbs: arguments in, model-file changes out.
#include "input_args.h"

#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

long volts_to_count(double volts) {
    long count = lround(volts * kAdcFullScale / kAdcVolts);
    return count < 0 ? 0 : count > 4095 ? 4095 : count;
}

bool refuse(InputChanges *out, const char *usage) {
    out->count = 0;
    out->usage = usage;
    return false;
}

// Appends a change; TEXT made from FMT. False when it does not fit.
bool add(InputChanges *out, InputChange::Kind kind, const char *rel, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
bool add(InputChanges *out, InputChange::Kind kind, const char *rel, const char *fmt, ...) {
    if (out->count >= InputChanges::kMax) {
        return false;
    }
    InputChange &c = out->items[out->count];
    c.kind = kind;
    snprintf(c.rel, sizeof c.rel, "%s", rel);
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(c.text, sizeof c.text, fmt, ap);
    va_end(ap);
    if (n < 0 || static_cast<size_t>(n) >= sizeof c.text) {
        return false;
    }
    ++out->count;
    return true;
}

bool add_adc(InputChanges *out, unsigned channel, long count) {
    char rel[16];
    snprintf(rel, sizeof rel, "in/adc/%02x", channel);
    return add(out, InputChange::kPut, rel, "%ld\n", count);
}

bool add_cc(InputChanges *out, const PortInfo &port, double v1, double v2) {
    return add_adc(out, port.cc1, volts_to_count(v1)) && add_adc(out, port.cc2, volts_to_count(v2));
}

bool parse_bank(int argc, const char *const *argv, InputChanges *out) {
    static const char kUsage[] = "bank PORT VOLTS AMPS [N] | bank PORT none  [--cc-unchanged]";
    // --cc-unchanged may stand anywhere after the verb.
    const char *args[6] = {};
    int n = 0;
    bool cc_unchanged = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--cc-unchanged") == 0) {
            cc_unchanged = true;
        } else if (n < 5) {
            args[n++] = argv[i];
        } else {
            return refuse(out, kUsage);
        }
    }
    const PortInfo *port = nullptr;
    if (n < 2 || !parse_port(args[0], &port)) {
        return refuse(out, kUsage);
    }
    char rel[16];
    snprintf(rel, sizeof rel, "i2c/%02x", port->addr);
    bool ok = true;
    if (n == 2 && strcmp(args[1], "none") == 0) {
        ok = add(out, InputChange::kPut, rel, "%02x 00\n", kSelectorReg) &&
             (cc_unchanged || add_cc(out, *port, kCcDetachedVolts, kCcDetachedVolts));
        return ok || refuse(out, kUsage);
    }
    double volts = 0;
    double amps = 0;
    long index = 1;
    if ((n != 3 && n != 4) || !parse_double(args[1], &volts) || !parse_double(args[2], &amps) ||
        (n == 4 && !parse_long(args[3], 10, &index))) {
        return refuse(out, kUsage);
    }
    // A fixed-supply capability: bits 19..10 voltage in 50 mV, 9..0 current in 10 mA.
    long vfield = lround(volts / 0.05);
    long ifield = lround(amps / 0.01);
    if (vfield < 0 || vfield > 1023 || ifield < 0 || ifield > 1023 || index < 1 || index > 7) {
        return refuse(out, "bank: VOLTS 0..51.15, AMPS 0..10.23, N 1..7");
    }
    unsigned long pdo =
        (static_cast<unsigned long>(vfield) << 10) | static_cast<unsigned long>(ifield);
    ok = add(out, InputChange::kPut, rel, "%02x %02lx\n%02lx %02lx %02lx %02lx 00\n", kSelectorReg,
             static_cast<unsigned long>(index), 0x0dUL + 4 * static_cast<unsigned long>(index),
             pdo & 0xff, (pdo >> 8) & 0xff, (pdo >> 16) & 0xff) &&
         (cc_unchanged || add_cc(out, *port, kCcAttachedVolts, kCcAttachedVolts));
    return ok || refuse(out, kUsage);
}

bool parse_fault(int argc, const char *const *argv, InputChanges *out) {
    static const char kUsage[] =
        "fault missing|eio-read|eio-write TARGET | fault silent ADDR | fault clear [KIND TARGET]";
    if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        return add(out, InputChange::kClearFaults, "", "%s", "") || refuse(out, kUsage);
    }
    bool clear = argc == 4 && strcmp(argv[1], "clear") == 0;
    const char *kind = clear ? argv[2] : argc == 3 ? argv[1] : nullptr;
    const char *target = clear ? argv[3] : argc == 3 ? argv[2] : nullptr;
    static const char *const kKinds[] = {"missing", "eio-read", "eio-write", "silent"};
    bool known = false;
    for (const char *k : kKinds) {
        known = known || (kind != nullptr && strcmp(kind, k) == 0);
    }
    if (!known || target[0] == '\0' || strpbrk(target, " \t\n") != nullptr) {
        return refuse(out, kUsage);
    }
    InputChange::Kind change = clear ? InputChange::kRemoveFault : InputChange::kAddFault;
    if (strcmp(kind, "silent") == 0) {
        long addr = 0;
        if (!parse_long(target, 16, &addr) || addr < 0 || addr > 0x7f) {
            return refuse(out, "fault silent ADDR (hex)");
        }
        return add(out, change, "", "silent %02lx", addr) || refuse(out, kUsage);
    }
    return add(out, change, "", "%s %s", kind, target) || refuse(out, "fault: TARGET too long");
}

}  // namespace

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

bool parse_input(int argc, const char *const *argv, InputChanges *out) {
    out->count = 0;
    out->usage = nullptr;
    const char *verb = argc > 0 ? argv[0] : "";
    if (strcmp(verb, "dc") == 0) {
        if (argc != 2 || (strcmp(argv[1], "0") != 0 && strcmp(argv[1], "1") != 0)) {
            return refuse(out, "dc 0|1");
        }
        return add(out, InputChange::kPut, "in/dc", "%s\n", argv[1]);
    }
    if (strcmp(verb, "bank") == 0) {
        return parse_bank(argc, argv, out);
    }
    if (strcmp(verb, "cc") == 0) {
        const PortInfo *port = nullptr;
        double v1 = 0;
        double v2 = 0;
        if (argc != 4 || !parse_port(argv[1], &port) || !parse_double(argv[2], &v1) ||
            !parse_double(argv[3], &v2)) {
            return refuse(out, "cc PORT V1 V2");
        }
        return add_cc(out, *port, v1, v2);
    }
    if (strcmp(verb, "adc") == 0) {
        long channel = 0;
        long count = 0;
        if (argc != 3 || !parse_long(argv[1], 16, &channel) || channel < 0 || channel > 0xff ||
            !parse_long(argv[2], 0, &count) || count < 0 || count > 0xffff) {
            return refuse(out, "adc CHANNEL(hex) COUNT");
        }
        return add_adc(out, static_cast<unsigned>(channel), count);
    }
    if (strcmp(verb, "oc") == 0) {
        long bits = 0;
        if (argc != 2 || !parse_long(argv[1], 0, &bits) || bits < 0 || bits > 0xff) {
            return refuse(out, "oc BITS (0..255)");
        }
        return add(out, InputChange::kPut, "mcu/reg/a9", "%ld\n", bits);
    }
    if (strcmp(verb, "fault") == 0) {
        return parse_fault(argc, argv, out);
    }
    return refuse(out, "unknown verb");
}

}  // namespace boardsim_tool
