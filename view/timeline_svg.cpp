// The timeline's picture: one row per signal over an axis of time.
// Digital rows are high for daemon up, DC up, LED lit steady and output on;
// a blinking LED is a square wave at the period it showed, or, where the
// zoom cannot show that period, a band with the period written on it. Value
// rows are cells labelled with the value. Every stretch wide enough says its
// value, so a row without an edge in the window still reads. While no daemon
// runs the value rows are hatched: nothing keeps their state. Event rows
// carry a mark per event; the labels of close events stack in lanes, and
// what has no room left becomes a "+N" mark that lists them on hover. Close
// re-detections become one mark with their count. Every piece has a <title>,
// shown as a tooltip by browsers. No scripts, no external references.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "timeline.h"

namespace pbview {

namespace {

constexpr double kWidth = 1200;
constexpr double kLeft = 110;
constexpr double kRight = 24;
constexpr double kTop = 70;
constexpr double kRowHeight = 22;
constexpr double kRowGap = 10;
constexpr double kCharWidth = 6.6;     // of the 11 px labels, roughly
constexpr double kMinBlinkPixels = 6;  // the narrowest blink period drawn as a wave
constexpr int kLanes = 3;              // label lines of an event row, over the marks
constexpr double kLaneHeight = 13;
constexpr double kCrowdPixels = 5;  // re-detections closer than this share a mark

enum class RowKind { kDigital, kCells, kTicks, kLabels };
struct RowDef {
    const char *label;
    RowKind kind;
    int row;
    const char *colour;
};
const RowDef kRows[] = {
    {"daemon", RowKind::kDigital, kDaemon, "#333"},
    {"inputs", RowKind::kLabels, kInputRow, "#b35c00"},
    {"DC", RowKind::kDigital, kDc, "#1a7f37"},
    {"port 1 bank", RowKind::kCells, kPort1, "#cfe2ff"},
    {"port 2 bank", RowKind::kCells, kPort2, "#cfe2ff"},
    {"LED 1", RowKind::kDigital, kLed1, "#c77700"},
    {"LED 2", RowKind::kDigital, kLed2, "#c77700"},
    {"PoE 1", RowKind::kDigital, kPoe1, "#1f5fbf"},
    {"PoE 2", RowKind::kDigital, kPoe2, "#1f5fbf"},
    {"UPS", RowKind::kDigital, kUps, "#1f5fbf"},
    {"OC PoE 1", RowKind::kCells, kOcPoe1, ""},
    {"OC PoE 2", RowKind::kCells, kOcPoe2, ""},
    {"OC UPS", RowKind::kCells, kOcUps, ""},
    {"OC total", RowKind::kCells, kOcTotal, ""},
    {"redetect", RowKind::kTicks, kRedetectRow, "#7b3fb5"},
    {"bus event", RowKind::kLabels, kEventRow, "#333"},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

// What a stretch of a value row shows: its value, "" not known, or no daemon.
const char kNoDaemon[] = "\x01no daemon";

struct Frame {
    const Timeline *t;
    FILE *out;
    double plot_width;
    double top[kRowCount];     // where each drawn row starts; <0 when not drawn
    double height[kRowCount];  // and its height
    double bottom;             // under the last row
    bool has_daemon;           // the timeline tells when a daemon ran

    double x(int64_t ms) const {
        double f =
            static_cast<double>(ms - t->from_ms) / static_cast<double>(t->to_ms - t->from_ms);
        return kLeft + (f < 0 ? 0 : f > 1 ? 1 : f) * plot_width;
    }
    double pixels(int64_t ms) const {
        return static_cast<double>(ms) * plot_width / static_cast<double>(t->to_ms - t->from_ms);
    }
};

// Text content or attribute value, escaped; bytes outside printable ASCII
// become '?' so that the document stays well-formed whatever was sent.
void text(FILE *out, const char *s) {
    for (; *s; ++s) {
        switch (*s) {
            case '&':
                fputs("&amp;", out);
                break;
            case '<':
                fputs("&lt;", out);
                break;
            case '>':
                fputs("&gt;", out);
                break;
            case '"':
                fputs("&quot;", out);
                break;
            default:
                fputc(*s >= ' ' && *s < 0x7f ? *s : '?', out);
                break;
        }
    }
}

double text_width(const char *s) {
    return static_cast<double>(strlen(s)) * kCharWidth;
}

// A moment as the titles tell it: "12.345 s" on a board, the time of day
// (UTC) on the device.
void moment(const Frame &f, int64_t ms) {
    char t[40];
    format_time(t, sizeof t, ms, f.t->format);
    fputs(t, f.out);
    if (f.t->format == TimeFormat::kSeconds) {
        fputs(" s", f.out);
    }
}

// What a stretch says of itself: its value in words.
void shown_value(const RowDef &row, const char *value, char *out, size_t size) {
    int64_t period = 0;
    if (value == kNoDaemon) {
        snprintf(out, size, "no daemon");
    } else if (value[0] == '\0') {
        snprintf(out, size, "not known");
    } else if (parse_blink(value, &period)) {
        if (period > 0) {
            snprintf(out, size, "blink %.1f s", static_cast<double>(period) / 1000);
        } else {
            snprintf(out, size, "blink");
        }
    } else if (row.kind == RowKind::kCells && row.colour[0] == '\0') {
        snprintf(out, size, "%s", oc_words(value, row.row == kOcTotal));
    } else {
        snprintf(out, size, "%s", value);
    }
}

void open_title(const Frame &f, const char *label, const char *words, int64_t from, int64_t to) {
    fputs("<g><title>", f.out);
    text(f.out, label);
    fputc(' ', f.out);
    text(f.out, words);
    fputs(" from ", f.out);
    moment(f, from);
    fputs(" to ", f.out);
    moment(f, to);
    fputs("</title>", f.out);
}

// WORDS at the left of a stretch [X0, X1), when they fit.
void stretch_label(const Frame &f, double x0, double x1, double y, const char *words,
                   const char *colour) {
    if (text_width(words) + 8 < x1 - x0) {
        fprintf(f.out, "<text x=\"%.1f\" y=\"%.1f\" fill=\"%s\" stroke=\"none\">", x0 + 4, y,
                colour);
        text(f.out, words);
        fputs("</text>", f.out);
    }
}

void band(const Frame &f, double x0, double x1, double top, const char *fill) {
    fprintf(f.out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\"/>", x0,
            top, x1 - x0, kRowHeight, fill);
}

// 1 high (daemon up, DC up, LED steady, output on), 0 low, 2 blinking, -1 not known.
int level(const char *value) {
    int64_t period = 0;
    if (strcmp(value, "up") == 0 || strcmp(value, "steady") == 0 || strcmp(value, "on") == 0) {
        return 1;
    }
    if (strcmp(value, "down") == 0 || strcmp(value, "off") == 0) {
        return 0;
    }
    return parse_blink(value, &period) ? 2 : -1;
}

// One stretch of a digital row; *LAST_Y carries the level across stretches
// so that an edge joins them.
void digital(const Frame &f, int r, const char *value, int64_t from, int64_t to, double *last_y) {
    const RowDef &row = kRows[r];
    const double top = f.top[r];
    const double x0 = f.x(from);
    const double x1 = f.x(to);
    const double high = top + 3;
    const double low = top + kRowHeight - 3;
    const double text_y = top + kRowHeight / 2 + 4;
    char words[64];
    shown_value(row, value, words, sizeof words);
    open_title(f, row.label, words, from, to);
    const int lv = value == kNoDaemon ? -2 : level(value);
    int64_t period = 0;
    if (lv < 0) {
        band(f, x0, x1, top, lv == -2 ? "url(#nodaemon)" : "#eee");
        stretch_label(f, x0, x1, text_y, words, "#777");
        *last_y = -1;
    } else if (lv < 2) {
        const double y = lv == 1 ? high : low;
        const double from_y = *last_y >= 0 ? *last_y : y;
        fprintf(f.out, "<path d=\"M %.1f,%.1f V %.1f H %.1f\" stroke=\"%s\"/>", x0, from_y, y, x1,
                row.colour);
        stretch_label(f, x0, x1, lv == 1 ? low - 1 : high + 9, words, "#555");
        *last_y = y;
    } else if (parse_blink(value, &period) && period > 0 && f.pixels(period) >= kMinBlinkPixels) {
        // Lit for the first half of each period from the change on, as the
        // journal showed it; a stretch that began left of the window keeps
        // its phase.
        const double step = f.pixels(period) / 2;
        double x = f.x(from);
        if (from < f.t->from_ms) {
            x -= fmod(f.pixels(f.t->from_ms - from), 2 * step);
        }
        bool lit = true;
        for (; x + step <= x0; x += step) {
            lit = !lit;
        }
        fprintf(f.out, "<path d=\"M %.1f,%.1f", x0, *last_y >= 0 ? *last_y : lit ? high : low);
        double y = low;
        for (; x < x1; x += step, lit = !lit) {
            y = lit ? high : low;
            fprintf(f.out, " V %.1f H %.1f", y, fmin(x + step, x1));
        }
        fprintf(f.out, "\" stroke=\"%s\"/>", row.colour);
        *last_y = y;
    } else {
        // Too fast for the zoom: a band between the levels, with the period on it.
        fprintf(f.out,
                "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"%s\" "
                "fill-opacity=\"0.25\" stroke=\"%s\"/>",
                x0, high, x1 - x0, low - high, row.colour, row.colour);
        stretch_label(f, x0, x1, text_y, words, "#000");
        *last_y = low;
    }
    fputs("</g>\n", f.out);
}

const char *cell_colour(const RowDef &row, const char *value) {
    if (row.colour[0] != '\0') {
        return row.colour;
    }
    switch (value[0]) {  // over-current states
        case '0':
            return "#e8e8e8";
        case '1':
            return "#d8f0d8";
        case '2':
            return "#9fd89f";
        default:
            return "#f4a0a0";
    }
}

void cells(const Frame &f, int r, const char *value, int64_t from, int64_t to) {
    const RowDef &row = kRows[r];
    const double top = f.top[r];
    const double mid = top + kRowHeight / 2;
    const double x0 = f.x(from);
    const double x1 = f.x(to);
    char words[64];
    shown_value(row, value, words, sizeof words);
    open_title(f, row.label, words, from, to);
    if (value == kNoDaemon || value[0] == '\0') {
        band(f, x0, x1, top, value == kNoDaemon ? "url(#nodaemon)" : "#eee");
        stretch_label(f, x0, x1, mid + 4, words, "#777");
    } else if (strcmp(value, "none") == 0) {
        fprintf(f.out, "<path d=\"M %.1f,%.1f H %.1f\" stroke=\"#888\"/>", x0, mid, x1);
        stretch_label(f, x0, x1, mid - 3, words, "#555");
    } else {
        double d = fmin(4, (x1 - x0) / 2);
        fprintf(f.out,
                "<path d=\"M %.1f,%.1f L %.1f,%.1f H %.1f L %.1f,%.1f L %.1f,%.1f H %.1f Z\" "
                "fill=\"%s\" stroke=\"#555\"/>",
                x0, mid, x0 + d, top + 2, x1 - d, x1, mid, x1 - d, top + kRowHeight - 2, x0 + d,
                cell_colour(row, value));
        if (text_width(words) + 8 < x1 - x0) {
            fprintf(
                f.out,
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#000\" stroke=\"none\">",
                (x0 + x1) / 2, mid + 4);
            text(f.out, words);
            fputs("</text>", f.out);
        }
    }
    fputs("</g>\n", f.out);
}

// A row of values: one piece per stretch of the same value, from the value
// the row had at the left edge; while no daemon runs, a piece of its own.
void value_row(const Frame &f, int r) {
    const RowDef &row = kRows[r];
    const Timeline &t = *f.t;
    const bool gated = f.has_daemon && row.row != kDaemon;
    // Before the first daemon record: none ran if that record is a start.
    bool daemon_up = true;
    for (int i = 0; gated && i < t.count; ++i) {
        if (t.changes[i].row == kDaemon) {
            daemon_up = strcmp(t.changes[i].text, "up") != 0;
            break;
        }
    }
    const char *value = "";
    const char *shown = gated && !daemon_up ? kNoDaemon : value;
    int64_t from = t.from_ms;
    double last_y = -1;
    for (int i = 0; i < t.count && t.changes[i].ms < t.to_ms; ++i) {
        const TimelineChange &c = t.changes[i];
        if (c.row == row.row) {
            value = c.text;
        } else if (gated && c.row == kDaemon) {
            daemon_up = strcmp(c.text, "up") == 0;
        } else {
            continue;
        }
        const char *now = gated && !daemon_up ? kNoDaemon : value;
        if (c.ms > t.from_ms && strcmp(now, shown) != 0) {
            if (row.kind == RowKind::kDigital) {
                digital(f, r, shown, from, c.ms, &last_y);
            } else {
                cells(f, r, shown, from, c.ms);
            }
            from = c.ms;
        }
        shown = now;
    }
    if (row.kind == RowKind::kDigital) {
        digital(f, r, shown, from, t.to_ms, &last_y);
    } else {
        cells(f, r, shown, from, t.to_ms);
    }
}

bool in_window(const Frame &f, const TimelineChange &c, int row) {
    return c.row == row && c.ms >= f.t->from_ms && c.ms <= f.t->to_ms;
}

// Re-detections: a tick each, and one mark with the count for those that
// come closer than a few pixels.
void tick_row(const Frame &f, int r) {
    const RowDef &row = kRows[r];
    const double top = f.top[r];
    const Timeline &t = *f.t;
    for (int i = 0; i < t.count; ++i) {
        if (!in_window(f, t.changes[i], row.row)) {
            continue;
        }
        int n = 1;
        int last = i;
        for (int j = i + 1; j < t.count; ++j) {
            if (in_window(f, t.changes[j], row.row)) {
                if (f.x(t.changes[j].ms) - f.x(t.changes[last].ms) >= kCrowdPixels) {
                    break;
                }
                last = j;
                ++n;
            }
        }
        const double x0 = f.x(t.changes[i].ms);
        const double x1 = f.x(t.changes[last].ms);
        fputs("<g><title>", f.out);
        if (n == 1) {
            fputs("re-detection at ", f.out);
            moment(f, t.changes[i].ms);
        } else {
            fprintf(f.out, "%d re-detections from ", n);
            moment(f, t.changes[i].ms);
            fputs(" to ", f.out);
            moment(f, t.changes[last].ms);
        }
        fputs("</title>", f.out);
        if (n == 1) {
            fprintf(f.out, "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"%s\" stroke-width=\"2\"/>", x0,
                    top + 2, top + kRowHeight - 2, row.colour);
        } else {
            // A bracket over the crowd, its count inside when it fits, else beside it.
            char count[40];
            char number[16];
            snprintf(count, sizeof count, "%d re-detections", n);
            snprintf(number, sizeof number, "%d", n);
            const bool inside = text_width(count) + 8 < x1 - x0;
            fprintf(f.out,
                    "<path d=\"M %.1f,%.1f V %.1f H %.1f V %.1f\" stroke=\"%s\" "
                    "stroke-width=\"2\"/><text x=\"%.1f\" y=\"%.1f\" fill=\"%s\" "
                    "stroke=\"none\" text-anchor=\"%s\">%s</text>",
                    x0, top + kRowHeight - 2, top + 4, x1, top + kRowHeight - 2, row.colour,
                    inside ? (x0 + x1) / 2 : x1 + 3, top + kRowHeight / 2 + 6, row.colour,
                    inside ? "middle" : "start", inside ? count : number);
        }
        fputs("</g>\n", f.out);
        i = last;
    }
}

// What an event row's mark is labelled with: a bus event's message, an
// input as it was given.
const char *event_label(const TimelineChange &c) {
    const char *msg = c.row == kEventRow ? strchr(c.text, ':') : nullptr;
    return msg != nullptr ? msg + 1 : c.text;
}

// Where the labels of an event row go: a lane each, or into a "+N" group.
struct Placement {
    int lane;   // 0..kLanes-1 (0 nearest the marks), or -1: in group GROUP
    int group;  // index into the groups, or -1
    double tx;  // the label's centre
};
struct Group {
    double x;   // where its "+N" stands
    int count;  // how many labels it holds
};

// Lays the labels of row R out into PLACE (one per change of the timeline)
// and GROUPS; returns the number of lanes used.
int lay_out_labels(const Frame &f, int r, Placement *place, Group *groups, int *group_count) {
    const Timeline &t = *f.t;
    double lane_end[kLanes];
    for (double &e : lane_end) {
        e = -1e9;
    }
    int used = 0;
    *group_count = 0;
    for (int i = 0; i < t.count; ++i) {
        place[i] = {-1, -1, 0};
        if (!in_window(f, t.changes[i], kRows[r].row)) {
            continue;
        }
        const double x = f.x(t.changes[i].ms);
        const double half = text_width(event_label(t.changes[i])) / 2;
        const double tx = fmax(half + 2, fmin(x, kWidth - half - 2));  // inside the picture
        place[i].tx = tx;
        for (int lane = 0; lane < kLanes && place[i].lane < 0; ++lane) {
            if (tx - half > lane_end[lane] + 6) {
                place[i].lane = lane;
                lane_end[lane] = tx + half;
                used = lane + 1 > used ? lane + 1 : used;
            }
        }
        if (place[i].lane >= 0) {
            continue;
        }
        Group *g = *group_count > 0 ? &groups[*group_count - 1] : nullptr;
        if (g == nullptr || x - g->x > 28) {
            g = &groups[(*group_count)++];
            *g = {x, 0};
        }
        place[i].group = static_cast<int>(g - groups);
        ++g->count;
    }
    return *group_count > 0 ? kLanes : used;
}

// The label rows: a mark per event at the bottom, the labels stacked above.
void label_row(const Frame &f, int r, const Placement *place, const Group *groups,
               int group_count) {
    const RowDef &row = kRows[r];
    const Timeline &t = *f.t;
    const double mark_y = f.top[r] + f.height[r] - 6;
    const auto lane_y = [&](int lane) { return mark_y - 10 - lane * kLaneHeight; };
    for (int i = 0; i < t.count; ++i) {
        if (!in_window(f, t.changes[i], row.row)) {
            continue;
        }
        const TimelineChange &c = t.changes[i];
        const double x = f.x(c.ms);
        fputs("<g><title>", f.out);
        text(f.out, c.text);
        fputs(" at ", f.out);
        moment(f, c.ms);
        fputs("</title>", f.out);
        fprintf(f.out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"%s\"/>", x, mark_y,
                row.colour);
        if (place[i].lane >= 0) {
            const double y = lane_y(place[i].lane);
            if (place[i].lane > 0) {
                fprintf(f.out,
                        "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"#ccc\" stroke-width=\"1\"/>", x,
                        mark_y - 4, y + 3);
            }
            fprintf(f.out,
                    "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#000\" "
                    "stroke=\"none\">",
                    place[i].tx, y);
            text(f.out, event_label(c));
            fputs("</text>", f.out);
        }
        fputs("</g>\n", f.out);
    }
    // Each "+N" over the lanes lists what it holds.
    for (int g = 0; g < group_count; ++g) {
        fputs("<g><title>", f.out);
        for (int i = 0, n = 0; i < t.count; ++i) {
            if (place[i].group == g) {
                fputs(n++ > 0 ? "\n" : "", f.out);
                moment(f, t.changes[i].ms);
                fputc(' ', f.out);
                text(f.out, t.changes[i].text);
            }
        }
        fprintf(f.out,
                "</title><text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#c00\" "
                "stroke=\"none\" font-weight=\"bold\">+%d</text></g>\n",
                fmax(kLeft + 8, fmin(groups[g].x, kWidth - 14)), lane_y(kLanes), groups[g].count);
    }
}

// Ticks at 1, 2 or 5 times a power of ten seconds, about ten of them.
void axis(const Frame &f) {
    const double span = static_cast<double>(f.t->to_ms - f.t->from_ms) / 1000;
    double step = pow(10, floor(log10(span / 10)));  // span / step in [10, 100)
    step *= span / step <= 12 ? 1 : span / step <= 24 ? 2 : span / step <= 60 ? 5 : 10;
    const double base = f.bottom + 4;
    fprintf(f.out, "<path d=\"M %.1f,%.1f H %.1f\" stroke=\"#333\"/>\n", kLeft, base,
            kLeft + f.plot_width);
    const double first = ceil(static_cast<double>(f.t->from_ms) / 1000 / step) * step;
    for (double s = first; s * 1000 <= static_cast<double>(f.t->to_ms) + 0.5; s += step) {
        const double x = f.x(llround(s * 1000));
        char label[40];
        if (f.t->format == TimeFormat::kSeconds) {
            snprintf(label, sizeof label, "%g s", s);
        } else {
            // The time of day of the full ISO text: "04:45:06", with the
            // milliseconds where the ticks are closer than a second.
            char iso[40];
            format_time(iso, sizeof iso, llround(s * 1000), f.t->format);
            snprintf(label, sizeof label, "%.*s", step < 1 ? 12 : 8, iso + 11);
        }
        fprintf(f.out,
                "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"#ddd\"/>"
                "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"#333\"/>"
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#000\" "
                "stroke=\"none\">%s</text>\n",
                x, kTop - 4, base, x, base, base + 5, x, base + 18, label);
    }
    fprintf(
        f.out,
        "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\" fill=\"#000\" stroke=\"none\">%s</text>\n",
        kLeft + f.plot_width, base + 34,
        f.t->format == TimeFormat::kSeconds ? "virtual time" : "time of day, UTC");
}

// Dashed lines over every row where a daemon started or stopped.
void daemon_marks(const Frame &f) {
    for (int i = 0; i < f.t->count; ++i) {
        const TimelineChange &c = f.t->changes[i];
        if (in_window(f, c, kDaemon) && c.ms > f.t->from_ms) {
            fprintf(f.out,
                    "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"#333\" stroke-dasharray=\"4 3\" "
                    "stroke-width=\"1\"/>\n",
                    f.x(c.ms), kTop - 4, f.bottom);
        }
    }
}

void header(const Frame &f) {
    const Timeline &t = *f.t;
    fprintf(f.out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"11\">\n"
            "<defs><pattern id=\"nodaemon\" width=\"8\" height=\"8\" "
            "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
            "<rect width=\"8\" height=\"8\" fill=\"#f4f4f4\"/>"
            "<path d=\"M 0,0 V 8\" stroke=\"#ccc\" stroke-width=\"2\"/></pattern></defs>\n"
            "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n<text x=\"10\" y=\"20\" "
            "font-size=\"14\">",
            kWidth, f.bottom + 52, kWidth, f.bottom + 52);
    text(f.out, t.title);
    if (t.format == TimeFormat::kSeconds) {
        fprintf(f.out, ", virtual time %.1f s to %.1f s", static_cast<double>(t.from_ms) / 1000,
                static_cast<double>(t.to_ms) / 1000);
    } else {
        char from[40];
        char to[40];
        format_time(from, sizeof from, t.from_ms, t.format);
        format_time(to, sizeof to, t.to_ms, t.format);
        fprintf(f.out, ", %s to %s", from, to);
    }
    fputs(
        "</text>\n<text x=\"10\" y=\"38\" fill=\"#555\">High: daemon running, DC up, LED lit "
        "steady, output on. Square wave: LED blinking at the period it showed (a band with "
        "the period on it where the zoom is too coarse). Hatched: no daemon.</text>\n"
        "<text x=\"10\" y=\"53\" fill=\"#555\">Grey: not known. Over-current (OC): "
        "idle (1) on without load, load (2) on and drawing, OVER (3) over the limit. "
        "+N: N more events. Dashed: a daemon started or stopped. Hover for values and "
        "times.</text>\n",
        f.out);
}

}  // namespace

void write_timeline_svg(const Timeline &t, FILE *out) {
    Frame f{&t, out, kWidth - kLeft - kRight, {}, {}, 0, false};
    uint32_t rows = t.rows;
    for (int i = 0; t.rows == 0 && i < t.count; ++i) {
        rows |= row_bit(t.changes[i].row);
    }
    f.has_daemon = (rows & row_bit(kDaemon)) != 0;
    // The label rows' layouts first: their lanes decide their heights.
    Placement *place[kRowCount] = {};
    Group *groups[kRowCount] = {};
    int group_count[kRowCount] = {};
    double y = kTop;
    for (int r = 0; r < kRowCount; ++r) {
        f.top[r] = -1;
        if ((rows & row_bit(kRows[r].row)) == 0) {
            continue;
        }
        f.top[r] = y;
        f.height[r] = kRowHeight;
        if (kRows[r].kind == RowKind::kLabels && t.count > 0) {
            place[r] = static_cast<Placement *>(malloc(sizeof(Placement) * t.count));
            groups[r] = static_cast<Group *>(malloc(sizeof(Group) * t.count));
            if (place[r] != nullptr && groups[r] != nullptr) {
                const int lanes = lay_out_labels(f, r, place[r], groups[r], &group_count[r]);
                f.height[r] = 12 + (lanes + (group_count[r] > 0 ? 1 : 0)) * kLaneHeight;
            }
        }
        y += f.height[r] + kRowGap;
    }
    f.bottom = y;
    header(f);
    fputs("<g fill=\"none\" stroke-width=\"1.5\">\n", out);
    axis(f);
    daemon_marks(f);
    fputs("</g>\n", out);
    for (int r = 0; r < kRowCount; ++r) {
        if (f.top[r] < 0) {
            continue;
        }
        const bool labels = kRows[r].kind == RowKind::kLabels;
        fprintf(out, "<text x=\"10\" y=\"%.1f\">%s</text>\n",
                labels ? f.top[r] + f.height[r] - 2 : f.top[r] + kRowHeight / 2 + 4,
                kRows[r].label);
        fputs("<g fill=\"none\" stroke-width=\"1.5\">\n", out);
        if (kRows[r].kind == RowKind::kDigital || kRows[r].kind == RowKind::kCells) {
            value_row(f, r);
        } else if (kRows[r].kind == RowKind::kTicks) {
            tick_row(f, r);
        } else if (place[r] != nullptr && groups[r] != nullptr) {
            label_row(f, r, place[r], groups[r], group_count[r]);
        }
        fputs("</g>\n", out);
        free(place[r]);
        free(groups[r]);
    }
    fputs("</svg>\n", out);
}

}  // namespace pbview
