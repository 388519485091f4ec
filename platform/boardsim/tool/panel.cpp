// The panel: the model's values in words, and the board's inputs.
#include "panel.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace boardsim_tool {

namespace {

using namespace boardsim;

// printf into the next panel line.
void line(Panel *p, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
void line(Panel *p, const char *fmt, ...) {
    if (p->count >= Panel::kLines) {
        return;
    }
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(p->lines[p->count++], Panel::kWidth, fmt, ap);
    va_end(ap);
}

const char *or_dash(const char *s) {
    return s[0] != '\0' ? s : "-";
}

// The bank a port's display state stands for.
void port_words(const BoardModel &m, int port, char *out, size_t size) {
    const char *state = m.port_state[port];
    const double watts = atof(m.port_volts[port]) * atof(m.port_amps[port]);
    if (m.values[kPort1 + port][0] == '\0') {
        snprintf(out, size, "- (not detected yet)");
    } else if (strcmp(state, "0") == 0 || state[0] == '\0') {
        if (watts > 0) {
            snprintf(out, size, "none usable (%sV/%sA, %.1f W: under 10 W)", m.port_volts[port],
                     m.port_amps[port], watts);
        } else {
            snprintf(out, size, "none");
        }
    } else {
        const bool big = strcmp(state, "1") == 0 || strcmp(state, "4") == 0;
        const bool charging = strcmp(state, "1") == 0 || strcmp(state, "2") == 0;
        snprintf(out, size, "%s  %.1f W, %s, %s", m.values[kPort1 + port], watts,
                 big ? "60 W or more" : "10 to 60 W", charging ? "charging" : "supplying");
    }
}

const char *led_words(const char *value) {
    return strcmp(value, "blink") == 0 ? "blinking" : value[0] != '\0' ? value : "-";
}

const char *oc_words(const char *value, bool total) {
    switch (value[0]) {
        case '0':
            return total ? "0 all off" : "0 off";
        case '1':
            return "1 idle";
        case '2':
            return total ? "2 ok" : "2 drawing";
        case '3':
            return total ? "3 OVER LIMIT" : "3 OVER-CURRENT";
        default:
            return "-";
    }
}

// The text of a model file without its newline, or "" when missing.
const char *model_file(const char *dir, const char *rel, char *buf, size_t size) {
    char path[kPathMax];
    if (!path_join(path, sizeof path, dir, rel) || read_file(path, buf, size) < 0) {
        buf[0] = '\0';
    }
    size_t n = strlen(buf);
    while (n > 0 && buf[n - 1] == '\n') {
        buf[--n] = '\0';
    }
    return buf;
}

// What is plugged into a port: the capability the controller's selector
// points at, and the CC line voltages.
void plugged(const char *dir, unsigned addr, unsigned cc1, unsigned cc2, char *out, size_t size) {
    char rel[32];
    char text[4096];
    unsigned char regs[256] = {};
    snprintf(rel, sizeof rel, "i2c/%02x", addr);
    char path[kPathMax];
    bool present =
        path_join(path, sizeof path, dir, rel) && read_file(path, text, sizeof text) >= 0;
    char *save = nullptr;
    for (char *l = present ? strtok_r(text, "\n", &save) : nullptr; l;
         l = strtok_r(nullptr, "\n", &save)) {
        char *end = nullptr;
        unsigned long reg = strtoul(l, &end, 16);
        for (char *p = end; end != l && reg <= 0xff; p = end) {
            unsigned long b = strtoul(p, &end, 16);
            if (end == p) {
                break;
            }
            regs[reg++] = static_cast<unsigned char>(b);
        }
    }
    char bank[64];
    unsigned sel = regs[0x10];
    if (!present) {
        snprintf(bank, sizeof bank, "no controller");
    } else if (sel == 0 || sel == 0xff || (sel & 7) == 0) {
        snprintf(bank, sizeof bank, "nothing");
    } else {
        unsigned r = 0x0d + 4 * (sel & 7);
        unsigned long pdo =
            regs[r] | (regs[r + 1] << 8) | (static_cast<unsigned long>(regs[r + 2]) << 16);
        snprintf(bank, sizeof bank, "%.2fV/%.2fA", ((pdo >> 10) & 0x3ff) * 0.05,
                 (pdo & 0x3ff) * 0.01);
    }
    char a[16];
    char b[16];
    snprintf(rel, sizeof rel, "in/adc/%02x", cc1);
    double v1 = atof(model_file(dir, rel, a, sizeof a)) * 3.3 / 4096;
    snprintf(rel, sizeof rel, "in/adc/%02x", cc2);
    double v2 = atof(model_file(dir, rel, b, sizeof b)) * 3.3 / 4096;
    snprintf(out, size, "%s, CC %.2f/%.2f V", bank, v1, v2);
}

}  // namespace

void panel_render(const BoardModel &m, const char *dir, const Clock &clock, Panel *out) {
    out->count = 0;
    line(out, "board %s   t=%.1f s   speed %g", dir, static_cast<double>(virtual_ms(clock)) / 1000,
         clock.speed);
    line(out, "DC        %s", or_dash(m.values[kDc]));
    for (int port = 0; port < 2; ++port) {
        char words[128];
        port_words(m, port, words, sizeof words);
        line(out, "port %d    %-50s LED %d %s", port + 1, words, port + 1,
             led_words(m.values[kLed1 + port]));
    }
    line(out, "outputs   PoE 1 %-4s  PoE 2 %-4s  UPS %s", or_dash(m.values[kPoe1]),
         or_dash(m.values[kPoe2]), or_dash(m.values[kUps]));
    line(out, "over-current   PoE 1 %s   PoE 2 %s   UPS %s   total %s",
         oc_words(m.values[kOcPoe1], false), oc_words(m.values[kOcPoe2], false),
         oc_words(m.values[kOcUps], false), oc_words(m.values[kOcTotal], true));
    if (m.redetects == 0) {
        line(out, "re-detections   none yet");
    } else {
        line(out, "re-detections   %d, the last at t=%.1f s", m.redetects,
             static_cast<double>(m.last_redetect_ms) / 1000);
    }
    line(out, "bus events%s", m.event_count == 0 ? "   none yet" : " (newest first)");
    for (int i = 0; i < BoardModel::kEvents; ++i) {
        int n = m.event_count - 1 - i;
        if (n < 0) {
            line(out, "%s", "");
        } else {
            const BoardModel::Event &e = m.events[n % BoardModel::kEvents];
            line(out, "  t=%.1f  %s", static_cast<double>(e.ms) / 1000, e.text);
        }
    }
    char p1[96];
    char p2[96];
    char dc[16];
    char oc[16];
    char faults[512];
    plugged(dir, 0x43, 0x93, 0x94, p1, sizeof p1);
    plugged(dir, 0x40, 0x90, 0x97, p2, sizeof p2);
    model_file(dir, "in/dc", dc, sizeof dc);
    model_file(dir, "mcu/reg/a9", oc, sizeof oc);
    model_file(dir, "faults", faults, sizeof faults);
    for (char *p = faults; (p = strchr(p, '\n')) != nullptr;) {
        *p = ';';
    }
    line(out, "inputs    dc %s   register a9 0x%02lx   faults %s", or_dash(dc),
         strtoul(oc, nullptr, 0), faults[0] != '\0' ? faults : "none");
    line(out, "          port 1 %s   port 2 %s", p1, p2);
}

bool replay_board(const char *dir, BoardModel *m, Clock *clock) {
    if (!read_clock(dir, clock)) {
        return false;
    }
    model_init(m, clock->speed, nullptr, nullptr);
    JournalFollower f;
    if (!follower_init(&f, dir)) {
        return false;
    }
    follower_read(
        &f,
        [](void *ctx, const JournalEntry &e) { model_apply(static_cast<BoardModel *>(ctx), e); },
        m);
    model_advance(m, virtual_ms(*clock));
    model_seed(m, dir, m->now_ms);
    return true;
}

}  // namespace boardsim_tool
