// The board's state replayed from its journal.
#include "board_model.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace boardsim_tool {

namespace {

void set_value(BoardModel *m, int v, int64_t ms, const char *text) {
    if (strcmp(m->values[v], text) == 0) {
        return;
    }
    copy_text(m->values[v], text);
    if (m->sink != nullptr) {
        m->sink(m->ctx, Change{ms, v, row_name(v), m->values[v]});
    }
}

void event(BoardModel *m, int64_t ms, int row, const char *value) {
    if (m->sink != nullptr) {
        m->sink(m->ctx, Change{ms, row, row_name(row), value});
    }
}

// The LED's state at M->now_ms: blinking while it changed level four times
// within the window, off or steady once it held a level for the whole window,
// and what it was while neither is sure yet (the start of a blink or a new
// steady level). A blink's period is that of its first whole cycle after
// the first change, which may have come late from a steady level.
void led_settle(BoardModel *m, int port) {
    const LedTracker &t = m->leds[port];
    if (t.level < 0) {
        return;
    }
    const int64_t since = m->now_ms - kLedWindowMs;
    int64_t period = 0;
    if (t.toggle_count == 4 && t.toggles[0] > since) {
        if (!parse_blink(m->values[kLed1 + port], &period)) {
            char blink[24];
            format_blink(blink, sizeof blink, t.toggles[3] - t.toggles[1]);
            set_value(m, kLed1 + port, t.toggles[0], blink);
        }
    } else {
        const int64_t held_since = t.toggle_count == 0 ? t.first_ms : t.toggles[3];
        if (held_since <= since) {
            set_value(m, kLed1 + port, held_since, t.level == 1 ? "steady" : "off");
        }
    }
}

void led_write(BoardModel *m, int port, int64_t ms, const char *data) {
    LedTracker &t = m->leds[port];
    int lit = strtol(data, nullptr, 10) != 0 ? 1 : 0;
    if (t.level < 0) {
        t.first_ms = ms;
    } else if (lit != t.level) {
        memmove(&t.toggles[0], &t.toggles[1], 3 * sizeof t.toggles[0]);
        t.toggles[3] = ms;
        t.toggle_count += t.toggle_count < 4;
    }
    t.level = lit;
    led_settle(m, port);
}

// Brings the model to time MS: the LEDs settle as of then.
void advance(BoardModel *m, int64_t ms) {
    if (ms <= m->now_ms) {
        return;
    }
    m->now_ms = ms;
    led_settle(m, 0);
    led_settle(m, 1);
}

void remember(BoardModel::Event *ring, int size, int *count, int64_t ms, const char *text) {
    BoardModel::Event &slot = ring[*count % size];
    slot.ms = ms;
    copy_text(slot.text, text);
    ++*count;
}

// A process started or ended on the board; the daemon's own mark its row.
// When the last daemon is gone, what it kept is forgotten without a word:
// its row says that no daemon keeps it.
void process(BoardModel *m, const JournalEntry &e) {
    const long pid = strtol(e.data, nullptr, 10);
    if (strcmp(e.name, "powerbank") != 0 || pid <= 0) {
        return;
    }
    int at = 0;
    while (at < m->daemon_count && m->daemons[at] != pid) {
        ++at;
    }
    if (strcmp(e.op, "start") == 0 && at == m->daemon_count &&
        m->daemon_count < BoardModel::kDaemons) {
        m->daemons[m->daemon_count++] = pid;
    } else if (strcmp(e.op, "end") == 0 && at < m->daemon_count) {
        m->daemons[at] = m->daemons[--m->daemon_count];
    }
    set_value(m, kDaemon, e.ms, m->daemon_count > 0 ? "up" : "down");
    if (m->daemon_count == 0) {
        for (int v = 0; v < kValueCount; ++v) {
            m->values[v][0] = v == kDaemon ? m->values[v][0] : '\0';
        }
        memset(m->port_state, 0, sizeof m->port_state);
        m->leds[0] = m->leds[1] = LedTracker{};
    }
}

// A port's bank as the display update published it: its state, volts and
// amps; the amps come last, so the port is told once they are written.
void port_value(BoardModel *m, int port, int64_t ms) {
    char text[40];
    if (strcmp(m->port_state[port], "0") == 0 || m->port_state[port][0] == '\0') {
        snprintf(text, sizeof text, "none");
    } else {
        snprintf(text, sizeof text, "%sV/%sA", m->port_volts[port], m->port_amps[port]);
    }
    set_value(m, kPort1 + port, ms, text);
}

void store(BoardModel *m, const JournalEntry &e) {
    static const struct {
        const char *key;
        int value;
    } kOverCurrent[] = {
        {"powerbank_poe1_power_over_current_state", kOcPoe1},
        {"powerbank_poe2_power_over_current_state", kOcPoe2},
        {"powerbank_ups_power_over_current_state", kOcUps},
        {"powerbank_total_power_over_current_state", kOcTotal},
    };
    for (const auto &oc : kOverCurrent) {
        if (strcmp(e.name, oc.key) == 0) {
            set_value(m, oc.value, e.ms, e.data);
            return;
        }
    }
    for (int port = 0; port < 2; ++port) {
        char key[40];
        snprintf(key, sizeof key, "powerbank_state_%d", port + 1);
        if (strcmp(e.name, key) == 0) {
            copy_text(m->port_state[port], e.data);
        }
        snprintf(key, sizeof key, "powerbank%d_voltage", port + 1);
        if (strcmp(e.name, key) == 0) {
            copy_text(m->port_volts[port], e.data);
        }
        snprintf(key, sizeof key, "powerbank%d_electricity", port + 1);
        if (strcmp(e.name, key) == 0) {
            copy_text(m->port_amps[port], e.data);
            port_value(m, port, e.ms);
        }
    }
}

// The broker takes from the first "NAME=" to the next CR.
bool field(const char *text, const char *name, char *out, size_t size) {
    const char *p = strstr(text, name);
    const char *cr = p != nullptr ? strchr(p, '\r') : nullptr;
    if (cr == nullptr) {
        return false;
    }
    p += strlen(name);
    size_t n = static_cast<size_t>(cr - p);
    if (n == 0 || n >= size) {
        return false;
    }
    memcpy(out, p, n);
    out[n] = '\0';
    return true;
}

// A datagram delivered to the broker's socket that the broker turns into a
// bus event: both fields there, each within the broker's limits.
void datagram(BoardModel *m, const JournalEntry &e) {
    char type[64];
    char msg[128];
    if (e.len == 0 || e.len >= 512 || e.data_len != e.len || memchr(e.data, '\0', e.len) ||
        !field(e.data, "type=", type, sizeof type) || !field(e.data, "msg=", msg, sizeof msg)) {
        return;
    }
    char text[200];
    snprintf(text, sizeof text, "%s:%s", type, msg);
    remember(m->events, BoardModel::kEvents, &m->event_count, e.ms, text);
    event(m, e.ms, kEventRow, text);
}

bool is(const JournalEntry &e, const char *kind, const char *name, const char *op) {
    return strcmp(e.kind, kind) == 0 && strcmp(e.name, name) == 0 && strcmp(e.op, op) == 0;
}

}  // namespace

void model_init(BoardModel *m, ChangeSink sink, void *ctx) {
    *m = BoardModel{};
    m->sink = sink;
    m->ctx = ctx;
}

void model_apply(BoardModel *m, const JournalEntry &e) {
    advance(m, e.ms);
    const int64_t ms = e.ms;
    const bool ok = e.err[0] == '\0';
    if (strcmp(e.kind, "store") == 0) {
        store(m, e);
    } else if (is(e, "gpio", "gpio25/value", "read")) {
        // What the daemon samples; a failed read leaves it without a DC state.
        set_value(m, kDc, ms, !ok ? "unknown" : e.data[0] == '1' ? "up" : "down");
    } else if (strcmp(e.kind, "input") == 0) {
        char text[200];
        snprintf(text, sizeof text, "%s%s%.120s", e.name, e.data_len > 0 ? " " : "", e.data);
        remember(m->inputs, BoardModel::kInputs, &m->input_count, ms, text);
        event(m, ms, kInputRow, text);
    } else if (strcmp(e.kind, "proc") == 0) {
        process(m, e);
    } else if (ok && is(e, "gpio", "gpio19/value", "write") && strcmp(e.data, "1") == 0) {
        ++m->redetects;
        m->last_redetect_ms = ms;
        event(m, ms, kRedetectRow, "1");
    } else if (ok && strcmp(e.kind, "led") == 0 && strcmp(e.op, "write") == 0 && e.len > 0 &&
               (strcmp(e.name, "usbc1") == 0 || strcmp(e.name, "usbc2") == 0)) {
        led_write(m, e.name[4] - '1', ms, e.data);
    } else if (ok && strcmp(e.kind, "mcu") == 0 && strcmp(e.op, "write") == 0) {
        // The PSE controls are active low, the UPS control active high.
        const bool high = strtol(e.data, nullptr, 10) != 0;
        if (strcmp(e.name, "ms51_pse1_ctrl") == 0) {
            set_value(m, kPoe1, ms, high ? "off" : "on");
        } else if (strcmp(e.name, "ms51_pse2_ctrl") == 0) {
            set_value(m, kPoe2, ms, high ? "off" : "on");
        } else if (strcmp(e.name, "ms51_ups_ctrl") == 0) {
            set_value(m, kUps, ms, high ? "on" : "off");
        }
    } else if (ok && is(e, "sock", "powerbankserver", "send")) {
        datagram(m, e);
    }
}

}  // namespace boardsim_tool
