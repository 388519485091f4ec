// Parsing of the input verbs: arguments in, model-file changes out.
#include "input_args.h"

#include <errno.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
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

// Refuses the verb: USAGE is its form, WHY (from FMT) says what is wrong.
bool refuse(InputChanges *out, const char *usage, const char *fmt, ...)
    __attribute__((format(printf, 3, 4)));
bool refuse(InputChanges *out, const char *usage, const char *fmt, ...) {
    out->count = 0;
    out->usage = usage;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(out->why, sizeof out->why, fmt, ap);
    va_end(ap);
    return false;
}

// A word as a refusal quotes it: cut, so that any word fits, and its control
// characters shown as '?', so that the refusal stays one line.
struct Quoted {
    char text[40];
};
Quoted quote(const char *word) {
    Quoted q;
    snprintf(q.text, sizeof q.text, strlen(word) > 32 ? "%.32s..." : "%s", word);
    for (char *c = q.text; *c != '\0'; ++c) {
        if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7f) {
            *c = '?';
        }
    }
    return q;
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
            return refuse(out, kUsage, "bank: one word too many: '%s'", quote(argv[i]).text);
        }
    }
    const PortInfo *port = nullptr;
    if (n < 2) {
        return refuse(out, kUsage, "bank needs a PORT and VOLTS AMPS, or none");
    }
    if (!parse_port(args[0], &port)) {
        return refuse(out, kUsage, "PORT is 1 or 2, not '%s'", quote(args[0]).text);
    }
    char rel[16];
    snprintf(rel, sizeof rel, "i2c/%02x", port->addr);
    bool ok = true;
    if (n == 2 && strcmp(args[1], "none") == 0) {
        ok = add(out, InputChange::kPut, rel, "%02x 00\n", kSelectorReg) &&
             (cc_unchanged || add_cc(out, *port, kCcDetachedVolts, kCcDetachedVolts));
        return ok || refuse(out, kUsage, "bank: cannot take the bank out");
    }
    double volts = 0;
    double amps = 0;
    long index = 1;
    if (n != 3 && n != 4) {
        return refuse(out, kUsage, "bank takes VOLTS AMPS [N] or none after the port, not '%s'",
                      quote(args[1]).text);
    }
    for (int i = 1; i < n; ++i) {
        double v = 0;
        long l = 0;
        if (i < 3 ? !parse_double(args[i], &v) : !parse_long(args[i], 10, &l)) {
            return refuse(out, kUsage, "bank: '%s' is no %s", quote(args[i]).text,
                          i == 1   ? "VOLTS number"
                          : i == 2 ? "AMPS number"
                                   : "whole number N");
        }
    }
    parse_double(args[1], &volts);
    parse_double(args[2], &amps);
    if (n == 4) {
        parse_long(args[3], 10, &index);
    }
    // A fixed-supply capability: bits 19..10 voltage in 50 mV, 9..0 current in 10 mA.
    long vfield = lround(volts / 0.05);
    long ifield = lround(amps / 0.01);
    if (vfield < 0 || vfield > 1023 || ifield < 0 || ifield > 1023 || index < 1 || index > 7) {
        return refuse(out, kUsage, "bank: VOLTS 0..51.15, AMPS 0..10.23, N 1..7");
    }
    unsigned long pdo =
        (static_cast<unsigned long>(vfield) << 10) | static_cast<unsigned long>(ifield);
    ok = add(out, InputChange::kPut, rel, "%02x %02lx\n%02lx %02lx %02lx %02lx 00\n", kSelectorReg,
             static_cast<unsigned long>(index), 0x0dUL + 4 * static_cast<unsigned long>(index),
             pdo & 0xff, (pdo >> 8) & 0xff, (pdo >> 16) & 0xff) &&
         (cc_unchanged || add_cc(out, *port, kCcAttachedVolts, kCcAttachedVolts));
    return ok || refuse(out, kUsage, "bank: cannot plug the bank in");
}

// What a fault can name: the files and folders the board simulates.
const char *const kTargets[] = {"export",
                                "mcu",
                                "ms51_reg",
                                "ms51_adc",
                                "ms51_over_current",
                                "ms51_pse1_ctrl",
                                "ms51_pse2_ctrl",
                                "ms51_ups_ctrl",
                                "ms51_leds",
                                "usbc1",
                                "usbc2",
                                "i2c-0",
                                "gpio25",
                                "gpio25/direction",
                                "gpio25/value",
                                "gpio19",
                                "gpio19/direction",
                                "gpio19/value",
                                nullptr};

// "gpioN", "gpioN/direction" or "gpioN/value", N a pin of 0..63.
bool gpio_target(const char *t) {
    if (strncmp(t, "gpio", 4) != 0) {
        return false;
    }
    // strtol would skip leading blanks and newlines and take a sign: the pin
    // starts with a digit.
    if (t[4] < '0' || t[4] > '9') {
        return false;
    }
    char *end = nullptr;
    const long pin = strtol(t + 4, &end, 10);
    return pin <= 63 &&
           (*end == '\0' || strcmp(end, "/direction") == 0 || strcmp(end, "/value") == 0);
}

bool known_target(const char *t) {
    for (int i = 0; kTargets[i] != nullptr; ++i) {
        if (strcmp(t, kTargets[i]) == 0) {
            return true;
        }
    }
    return gpio_target(t);
}

bool parse_fault(int argc, const char *const *argv, InputChanges *out) {
    static const char kUsage[] =
        "fault missing|eio-read|eio-write TARGET | fault silent ADDR | fault clear [KIND TARGET]";
    static const char *const kKinds[] = {"missing", "eio-read", "eio-write",
                                         "silent",  "clear",    nullptr};
    if (argc == 2 && strcmp(argv[1], "clear") == 0) {
        return add(out, InputChange::kClearFaults, "", "%s", "") ||
               refuse(out, kUsage, "fault: cannot clear");
    }
    bool clear = argc == 4 && strcmp(argv[1], "clear") == 0;
    const char *kind = clear ? argv[2] : argc == 3 ? argv[1] : nullptr;
    const char *target = clear ? argv[3] : argc == 3 ? argv[2] : nullptr;
    if (kind == nullptr) {
        return refuse(out, kUsage, "fault takes a KIND and a TARGET, or clear");
    }
    bool known = false;
    for (int i = 0; kKinds[i + 1] != nullptr; ++i) {
        known = known || strcmp(kind, kKinds[i]) == 0;
    }
    if (!known) {
        return refuse(out, kUsage, "unknown fault '%s' (the nearest is '%s')", quote(kind).text,
                      nearest_word(kind, kKinds));
    }
    InputChange::Kind change = clear ? InputChange::kRemoveFault : InputChange::kAddFault;
    if (strcmp(kind, "silent") == 0) {
        long addr = 0;
        if (!parse_long(target, 16, &addr) || addr < 0 || addr > 0x7f) {
            return refuse(out, "fault silent ADDR",
                          "fault silent takes an I2C address 00..7f, "
                          "not '%s'",
                          quote(target).text);
        }
        return add(out, change, "", "silent %02lx", addr) || refuse(out, kUsage, "fault: full");
    }
    if (!known_target(target)) {
        return refuse(out, kUsage, "unknown fault target '%s' (the nearest is '%s')",
                      quote(target).text, nearest_word(target, kTargets));
    }
    return add(out, change, "", "%s %s", kind, target) || refuse(out, kUsage, "fault: full");
}

// A store key: 1 to 64 of A-Z a-z 0-9 _ . -, not starting with a dot.
bool store_key(const char *key) {
    const size_t n = strlen(key);
    return n >= 1 && n <= 64 && key[0] != '.' &&
           strspn(key, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-") == n;
}

bool parse_config(int argc, const char *const *argv, InputChanges *out) {
    static const char kUsage[] = "config KEY VALUE";
    if (argc != 3) {
        return refuse(out, kUsage, "config takes a KEY and a VALUE");
    }
    if (!store_key(argv[1])) {
        return refuse(out, kUsage,
                      "'%s' is no store key (1 to 64 of A-Z a-z 0-9 _ . -, not starting with .)",
                      quote(argv[1]).text);
    }
    if (strchr(argv[2], '\n') != nullptr) {
        return refuse(out, kUsage, "a VALUE is one line");
    }
    char rel[80];
    snprintf(rel, sizeof rel, "config/%s", argv[1]);
    return add(out, InputChange::kPut, rel, "%s\n", argv[2]) ||
           refuse(out, kUsage, "config: VALUE '%s' too long", quote(argv[2]).text);
}

}  // namespace

const char *nearest_word(const char *word, const char *const *valid) {
    const char *best = valid[0];
    size_t best_d = SIZE_MAX;
    for (int i = 0; valid[i] != nullptr; ++i) {
        // Edit distance, both cut to 31 bytes.
        size_t prev[32];
        size_t cur[32];
        const size_t la = strnlen(word, 31);
        const size_t lb = strnlen(valid[i], 31);
        for (size_t j = 0; j <= lb; ++j) {
            prev[j] = j;
        }
        for (size_t a = 1; a <= la; ++a) {
            cur[0] = a;
            for (size_t b = 1; b <= lb; ++b) {
                const size_t swap = prev[b - 1] + (word[a - 1] != valid[i][b - 1]);
                const size_t del = (prev[b] < cur[b - 1] ? prev[b] : cur[b - 1]) + 1;
                cur[b] = swap < del ? swap : del;
            }
            memcpy(prev, cur, sizeof prev);
        }
        if (prev[lb] < best_d) {
            best_d = prev[lb];
            best = valid[i];
        }
    }
    return best;
}

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
    out->why[0] = '\0';
    const char *verb = argc > 0 ? argv[0] : "";
    if (strcmp(verb, "dc") == 0) {
        if (argc != 2 || (strcmp(argv[1], "0") != 0 && strcmp(argv[1], "1") != 0)) {
            return refuse(out, "dc 0|1", "dc is 0 or 1, not '%s'",
                          argc > 1 ? quote(argv[1]).text : "");
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
        if (argc != 4) {
            return refuse(out, "cc PORT V1 V2", "cc takes a PORT and two voltages");
        }
        if (!parse_port(argv[1], &port)) {
            return refuse(out, "cc PORT V1 V2", "PORT is 1 or 2, not '%s'", quote(argv[1]).text);
        }
        for (int i = 2; i < 4; ++i) {
            if (!parse_double(argv[i], i == 2 ? &v1 : &v2)) {
                return refuse(out, "cc PORT V1 V2", "cc: '%s' is no voltage", quote(argv[i]).text);
            }
        }
        return add_cc(out, *port, v1, v2);
    }
    if (strcmp(verb, "adc") == 0) {
        long channel = 0;
        long count = 0;
        if (argc != 3) {
            return refuse(out, "adc CHANNEL COUNT", "adc takes a CHANNEL (hex) and a COUNT");
        }
        if (!parse_long(argv[1], 16, &channel) || channel < 0 || channel > 0xff) {
            return refuse(out, "adc CHANNEL COUNT", "CHANNEL is hex 00..ff, not '%s'",
                          quote(argv[1]).text);
        }
        if (!parse_long(argv[2], 0, &count) || count < 0 || count > 0xffff) {
            return refuse(out, "adc CHANNEL COUNT", "COUNT is 0..65535, not '%s'",
                          quote(argv[2]).text);
        }
        return add_adc(out, static_cast<unsigned>(channel), count);
    }
    if (strcmp(verb, "oc") == 0) {
        long bits = 0;
        if (argc != 2 || !parse_long(argv[1], 0, &bits) || bits < 0 || bits > 0xff) {
            return refuse(out, "oc BITS", "oc BITS is 0..255 (or 0x00..0xff), not '%s'",
                          argc > 1 ? quote(argv[1]).text : "");
        }
        return add(out, InputChange::kPut, "mcu/reg/a9", "%ld\n", bits);
    }
    if (strcmp(verb, "config") == 0) {
        return parse_config(argc, argv, out);
    }
    if (strcmp(verb, "fault") == 0) {
        return parse_fault(argc, argv, out);
    }
    static const char *const kInputVerbs[] = {"dc", "bank",   "cc",    "adc",
                                              "oc", "config", "fault", nullptr};
    return refuse(out, "VERB [ARGS]", "unknown verb '%s' (the nearest is '%s')", quote(verb).text,
                  nearest_word(verb, kInputVerbs));
}

}  // namespace boardsim_tool
