// The panel: the model's values in words, and the board's inputs.
#include "panel.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace boardsim_tool {

namespace {

using namespace boardsim;

// A panel line being made, with how much it matters: on a small terminal the
// lines of the lowest rank go first.
struct Draft {
    struct Line {
        int rank;
        char text[Panel::kWidth];
    } lines[Panel::kLines];
    int count = 0;
};

// The labels' column, and those of the outputs and over-current line.
constexpr int kLabel = 9;

void line(Draft *d, int rank, const char *fmt, ...) __attribute__((format(printf, 3, 4)));
void line(Draft *d, int rank, const char *fmt, ...) {
    if (d->count >= Panel::kLines) {
        return;
    }
    Draft::Line &l = d->lines[d->count++];
    l.rank = rank;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(l.text, sizeof l.text, fmt, ap);
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
        snprintf(out, size, "%s",
                 strcmp(m.values[kDaemon], "up") == 0 ? "- (not detected yet)" : "-");
    } else if (strcmp(state, "0") == 0 || state[0] == '\0') {
        if (watts > 0) {
            snprintf(out, size, "none: %sV/%sA is %.1f W, under 10 W", m.port_volts[port],
                     m.port_amps[port], watts);
        } else {
            snprintf(out, size, "none");
        }
    } else {
        const bool big = strcmp(state, "1") == 0 || strcmp(state, "4") == 0;
        const bool charging = strcmp(state, "1") == 0 || strcmp(state, "2") == 0;
        snprintf(out, size, "%s %.1f W %s %s", m.values[kPort1 + port], watts,
                 big ? ">=60W" : "<60W", charging ? "charging" : "supplying");
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

void panel_render(const BoardModel &m, const char *dir, const Clock &clock, int max_lines,
                  const char *note, Panel *out) {
    static Draft d;
    d.count = 0;
    const bool up = strcmp(m.values[kDaemon], "up") == 0;
    line(&d, 9, "board %s   t=%.1f s   speed %g   daemon %s", dir,
         static_cast<double>(virtual_ms(clock)) / 1000, clock.speed,
         up                             ? "up"
         : m.values[kDaemon][0] != '\0' ? "down"
                                        : "-");
    line(&d, 8, "%-*s%s", kLabel, "DC", or_dash(m.values[kDc]));
    for (int port = 0; port < 2; ++port) {
        char words[128];
        port_words(m, port, words, sizeof words);
        line(&d, 8, "port %-*d%-36s LED %d %s", kLabel - 5, port + 1, words, port + 1,
             or_dash(m.values[kLed1 + port]));
    }
    char cols[3][48];
    snprintf(cols[0], sizeof cols[0], "PoE 1: %s", or_dash(m.values[kPoe1]));
    snprintf(cols[1], sizeof cols[1], "PoE 2: %s", or_dash(m.values[kPoe2]));
    line(&d, 7, "%-*s%-16s%-16sUPS: %s", kLabel, "outputs", cols[0], cols[1],
         or_dash(m.values[kUps]));
    snprintf(cols[0], sizeof cols[0], "PoE 1: %s", or_dash(oc_words(m.values[kOcPoe1], false)));
    snprintf(cols[1], sizeof cols[1], "PoE 2: %s", or_dash(oc_words(m.values[kOcPoe2], false)));
    snprintf(cols[2], sizeof cols[2], "UPS: %s", or_dash(oc_words(m.values[kOcUps], false)));
    line(&d, 7, "%-*s%-16s%-16s%-14stotal: %s", kLabel, "oc", cols[0], cols[1], cols[2],
         or_dash(oc_words(m.values[kOcTotal], true)));
    if (m.redetects == 0) {
        line(&d, 5, "%-*snone yet", kLabel, "redetect");
    } else {
        line(&d, 5, "%-*s%d, the last at t=%.1f s", kLabel, "redetect", m.redetects,
             static_cast<double>(m.last_redetect_ms) / 1000);
    }
    // Newest first, the times aligned.
    if (m.event_count == 0) {
        line(&d, 6, "%-*snone yet", kLabel, "event");
    }
    for (int i = 0; i < BoardModel::kEvents && i < m.event_count; ++i) {
        const BoardModel::Event &e = m.events[(m.event_count - 1 - i) % BoardModel::kEvents];
        line(&d, i == 0 ? 6 : 3, "%-*st=%8.1f  %s", kLabel, i == 0 ? "event" : "",
             static_cast<double>(e.ms) / 1000, e.text);
    }
    if (m.input_count > 0) {
        const BoardModel::Event &e = m.inputs[(m.input_count - 1) % BoardModel::kInputs];
        line(&d, 4, "%-*st=%8.1f  %s", kLabel, "input", static_cast<double>(e.ms) / 1000, e.text);
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
    line(&d, 2, "%-*sdc %s   register a9 0x%02lx   faults %s", kLabel, "board", or_dash(dc),
         strtoul(oc, nullptr, 0), faults[0] != '\0' ? faults : "none");
    line(&d, 1, "%-*sport 1: %s", kLabel, "", p1);
    line(&d, 1, "%-*sport 2: %s", kLabel, "", p2);
    for (const char *p = note; p != nullptr && *p != '\0';) {
        const char *nl = strchr(p, '\n');
        const int n = nl != nullptr ? static_cast<int>(nl - p) : static_cast<int>(strlen(p));
        line(&d, 5, "%.*s", n, p);
        p = nl != nullptr ? nl + 1 : nullptr;
    }
    // Drop the lowest ranks, the last of them first, until the panel fits.
    int keep[Panel::kLines];
    for (int i = 0; i < d.count; ++i) {
        keep[i] = 1;
    }
    int shown = d.count;
    for (int rank = 0; rank < 10 && shown > max_lines; ++rank) {
        for (int i = d.count - 1; i >= 0 && shown > max_lines; --i) {
            if (keep[i] && d.lines[i].rank == rank) {
                keep[i] = 0;
                --shown;
            }
        }
    }
    out->count = 0;
    for (int i = 0; i < d.count; ++i) {
        if (keep[i]) {
            copy_text(out->lines[out->count++], d.lines[i].text);
        }
    }
}

bool replay_board(const char *dir, BoardModel *m, Clock *clock) {
    if (!read_clock(dir, clock)) {
        return false;
    }
    model_init(m, nullptr, nullptr);
    JournalFollower f;
    if (!follower_init(&f, dir)) {
        return false;
    }
    follower_read(
        &f,
        [](void *ctx, const JournalEntry &e) { model_apply(static_cast<BoardModel *>(ctx), e); },
        m);
    return true;
}

}  // namespace boardsim_tool
