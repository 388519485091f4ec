// show and get: the board's outputs as the daemon left them.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_files.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

constexpr int kJournalTail = 12;

// The file behind a `get` name, or null.
bool resolve(const char *name, char *rel, size_t size) {
    static const struct {
        const char *prefix;
        const char *dir;
    } kAliases[] = {
        {"pse1_ctrl", "mcu/"},    {"pse2_ctrl", "mcu/"}, {"ups_ctrl", "mcu/"},
        {"mcu_led/", "mcu/led/"}, {"reg/", "mcu/reg/"},  {"req/", "mcu/req/"},
        {"led/", "led/"},         {"gpio", "gpio/gpio"}, {"dc", "in/"},
        {"adc/", "in/adc/"},
    };
    if (strstr(name, "..") != nullptr || name[0] == '/') {
        return false;
    }
    for (const auto &a : kAliases) {
        size_t n = strlen(a.prefix);
        if (strncmp(name, a.prefix, n) == 0) {
            bool keep = a.prefix[n - 1] != '/' && strcmp(a.dir, "gpio/gpio") != 0;
            const char *rest = keep ? name : name + n;
            return snprintf(rel, size, "%s%s", a.dir, rest) < static_cast<int>(size);
        }
    }
    return false;
}

// The value of a model file without its trailing newline, or "-" when unset.
const char *value(const char *dir, const char *rel, char *buf, size_t size) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, rel) || read_file(path, buf, size) < 0) {
        snprintf(buf, size, "-");
        return buf;
    }
    size_t n = strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') {
        buf[n - 1] = '\0';
    }
    return buf;
}

// value() of the file that FMT names with the number N.
const char *value_n(const char *dir, const char *fmt, unsigned n, char *buf, size_t size) {
    char rel[64];
    snprintf(rel, sizeof rel, fmt, n);
    return value(dir, rel, buf, size);
}

void show_gpio(const char *dir, int pin) {
    char d[16];
    char v[16];
    value_n(dir, "gpio/gpio%u/direction", static_cast<unsigned>(pin), d, sizeof d);
    value_n(dir, "gpio/gpio%u/value", static_cast<unsigned>(pin), v, sizeof v);
    if (strcmp(d, "-") == 0) {
        printf("  gpio%-2d  not exported\n", pin);
    } else {
        printf("  gpio%-2d  %-3s value %s\n", pin, d, v);
    }
}

void show_port(const char *dir, int port, unsigned addr, unsigned cc1, unsigned cc2) {
    char rel[32];
    char text[4096];
    char path[kPathMax];
    snprintf(rel, sizeof rel, "i2c/%02x", addr);
    unsigned char regs[256] = {};
    bool present =
        path_join(path, sizeof path, dir, rel) && read_file(path, text, sizeof text) >= 0;
    if (present) {
        char *save = nullptr;
        for (char *line = strtok_r(text, "\n", &save); line;
             line = strtok_r(nullptr, "\n", &save)) {
            char *p = line;
            char *end = nullptr;
            unsigned long reg = strtoul(p, &end, 16);
            if (end == p) {
                continue;
            }
            for (p = end;; p = end) {
                unsigned long b = strtoul(p, &end, 16);
                if (end == p || reg > 0xff) {
                    break;
                }
                regs[reg++] = static_cast<unsigned char>(b);
            }
        }
    }
    char a[16];
    char b[16];
    value_n(dir, "in/adc/%02x", cc1, a, sizeof a);
    value_n(dir, "in/adc/%02x", cc2, b, sizeof b);
    printf("  port %d  (0x%02x) ", port, addr);
    unsigned sel = regs[0x10];
    if (!present) {
        printf("no controller");
    } else if (sel == 0 || sel == 0xff || (sel & 7) == 0) {
        printf("selector %02x: nothing attached", sel);
    } else {
        unsigned r = 0x0d + 4 * (sel & 7);
        unsigned long pdo =
            regs[r] | (regs[r + 1] << 8) | (static_cast<unsigned long>(regs[r + 2]) << 16);
        double volts = ((pdo >> 10) & 0x3ff) * 0.05;
        double amps = (pdo & 0x3ff) * 0.01;
        printf("selector %02x: %.2f V %.2f A (%.1f W)", sel, volts, amps, volts * amps);
    }
    printf("   CC counts %02x=%s %02x=%s\n", cc1, a, cc2, b);
}

}  // namespace

int cmd_get(const char *dir, const char *name) {
    char rel[128];
    char buf[4096];
    char path[kPathMax];
    if (!resolve(name, rel, sizeof rel)) {
        return usage("get: unknown name");
    }
    if (!path_join(path, sizeof path, dir, rel) || read_file(path, buf, sizeof buf) < 0) {
        return kFailed;
    }
    size_t n = strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') {
        buf[n - 1] = '\0';
    }
    printf("%s\n", buf);
    return kOk;
}

int cmd_show(const char *dir) {
    Clock clock;
    char a[64];
    char b[64];
    char c[64];
    char d[64];
    if (!read_clock(dir, &clock)) {
        return kFailed;
    }
    printf("board %s   virtual time %.3f s   speed %g\n", dir,
           static_cast<double>(virtual_ms(clock)) / 1000.0, clock.speed);
    printf("inputs\n  dc input %s   over-current reg a9 = %s\n", value(dir, "in/dc", a, sizeof a),
           value(dir, "mcu/reg/a9", b, sizeof b));
    show_port(dir, 1, 0x43, 0x93, 0x94);
    show_port(dir, 2, 0x40, 0x90, 0x97);
    printf("gpio\n");
    show_gpio(dir, 19);
    show_gpio(dir, 25);
    printf("outputs (PSE active low, UPS active high)\n");
    printf("  POE_1 pse1_ctrl=%s   POE_2 pse2_ctrl=%s   UPS ups_ctrl=%s   UPS LED (mcu led 1)=%s\n",
           value(dir, "mcu/pse1_ctrl", a, sizeof a), value(dir, "mcu/pse2_ctrl", b, sizeof b),
           value(dir, "mcu/ups_ctrl", c, sizeof c), value(dir, "mcu/led/1", d, sizeof d));
    printf("thresholds\n ");
    for (unsigned r = 0xb0; r <= 0xb8; ++r) {
        printf(" %02x=%s", r, value_n(dir, "mcu/reg/%02x", r, a, sizeof a));
    }
    printf("\nport LEDs\n  usbc1=%s  usbc2=%s\n", value(dir, "led/usbc1", a, sizeof a),
           value(dir, "led/usbc2", b, sizeof b));
    char faults[1024];
    printf("faults\n  %s\n", value(dir, "faults", faults, sizeof faults));

    // The last lines of the journal.
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, "journal")) {
        return kFailed;
    }
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return kOk;
    }
    static char ring[kJournalTail][1024];
    int count = 0;
    while (fgets(ring[count % kJournalTail], sizeof ring[0], f) != nullptr) {
        ++count;
    }
    fclose(f);
    printf("journal (last %d lines)\n", count < kJournalTail ? count : kJournalTail);
    for (int i = count < kJournalTail ? 0 : count - kJournalTail; i < count; ++i) {
        printf("  %s", ring[i % kJournalTail]);
    }
    return kOk;
}

}  // namespace boardsim_tool
