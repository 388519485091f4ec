// The timeline's picture: one row per signal over an axis of time.
// Digital rows are high for DC up, LED lit steady and output on, a square
// wave while an LED blinks; value rows are cells labelled with the value;
// event rows carry a mark per event. Every piece has a <title>, shown as a
// tooltip by browsers. No scripts, no external references.
#include <math.h>
#include <stdio.h>
#include <string.h>

#include "timeline.h"

namespace pbview {

namespace {

constexpr double kWidth = 1200;
constexpr double kLeft = 110;
constexpr double kRight = 24;
constexpr double kTop = 58;
constexpr double kRowHeight = 22;
constexpr double kRowPitch = 32;
constexpr double kCharWidth = 6.6;     // of the 11 px labels, roughly
constexpr double kBlinkPixels = 8;     // one drawn blink period
constexpr double kEventRowExtra = 16;  // room for labels above and below the bus events

enum class RowKind { kDigital, kCells, kRedetects, kEvents };
struct Row {
    const char *label;
    RowKind kind;
    int value;
    const char *colour;
};
const Row kRows[] = {
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
    {"re-detection", RowKind::kRedetects, kRedetectRow, "#7b3fb5"},
    {"bus event", RowKind::kEvents, kEventRow, "#333"},
};
constexpr int kRowCount = sizeof kRows / sizeof kRows[0];

struct Frame {
    const Timeline *t;
    FILE *out;
    double plot_width;

    double x(int64_t ms) const {
        double f =
            static_cast<double>(ms - t->from_ms) / static_cast<double>(t->to_ms - t->from_ms);
        return kLeft + (f < 0 ? 0 : f > 1 ? 1 : f) * plot_width;
    }
};

double row_top(int row) {
    return kTop + row * kRowPitch;
}

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

void title(const Frame &f, const char *label, const char *value, int64_t from, int64_t to) {
    fputs("<g><title>", f.out);
    text(f.out, label);
    fputc(' ', f.out);
    text(f.out, value[0] != '\0' ? value : "not known");
    fputs(" from ", f.out);
    moment(f, from);
    fputs(" to ", f.out);
    moment(f, to);
    fputs("</title>", f.out);
}

// 1 high (DC up, LED steady, output on), 0 low, 2 blinking, -1 not known.
int level(const char *value) {
    if (strcmp(value, "up") == 0 || strcmp(value, "steady") == 0 || strcmp(value, "on") == 0) {
        return 1;
    }
    if (strcmp(value, "down") == 0 || strcmp(value, "off") == 0) {
        return 0;
    }
    return strcmp(value, "blink") == 0 ? 2 : -1;
}

void unknown_band(const Frame &f, double x0, double x1, double top) {
    fprintf(f.out, "<rect x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\" fill=\"#eee\"/>", x0,
            top, x1 - x0, kRowHeight);
}

void digital(const Frame &f, const Row &row, int r, const char *value, int64_t from, int64_t to,
             double *last_y) {
    const double top = row_top(r);
    const double x0 = f.x(from);
    const double x1 = f.x(to);
    const double high = top + 3;
    const double low = top + kRowHeight - 3;
    title(f, row.label, value, from, to);
    int lv = level(value);
    if (lv < 0) {
        unknown_band(f, x0, x1, top);
        *last_y = -1;
    } else if (lv < 2) {
        double y = lv == 1 ? high : low;
        double from_y = *last_y >= 0 ? *last_y : y;
        fprintf(f.out, "<path d=\"M %.1f,%.1f V %.1f H %.1f\" stroke=\"%s\"/>", x0, from_y, y, x1,
                row.colour);
        *last_y = y;
    } else {
        fprintf(f.out, "<path d=\"M %.1f,%.1f", x0, low);
        for (double x = x0; x < x1; x += kBlinkPixels) {
            double mid = fmin(x + kBlinkPixels / 2, x1);
            fprintf(f.out, " V %.1f H %.1f V %.1f H %.1f", high, mid, low,
                    fmin(x + kBlinkPixels, x1));
        }
        fprintf(f.out, "\" stroke=\"%s\"/>", row.colour);
        *last_y = low;
    }
    fputs("</g>\n", f.out);
}

const char *cell_colour(const Row &row, const char *value) {
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

void cells(const Frame &f, const Row &row, int r, const char *value, int64_t from, int64_t to) {
    const double top = row_top(r);
    const double mid = top + kRowHeight / 2;
    const double x0 = f.x(from);
    const double x1 = f.x(to);
    title(f, row.label, value, from, to);
    if (value[0] == '\0') {
        unknown_band(f, x0, x1, top);
    } else if (strcmp(value, "none") == 0) {
        fprintf(f.out, "<path d=\"M %.1f,%.1f H %.1f\" stroke=\"#888\"/>", x0, mid, x1);
    } else {
        double d = fmin(4, (x1 - x0) / 2);
        fprintf(f.out,
                "<path d=\"M %.1f,%.1f L %.1f,%.1f H %.1f L %.1f,%.1f L %.1f,%.1f H %.1f Z\" "
                "fill=\"%s\" stroke=\"#555\"/>",
                x0, mid, x0 + d, top + 2, x1 - d, x1, mid, x1 - d, top + kRowHeight - 2, x0 + d,
                cell_colour(row, value));
        if (strlen(value) * kCharWidth + 8 < x1 - x0) {
            fprintf(
                f.out,
                "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#000\" stroke=\"none\">",
                (x0 + x1) / 2, mid + 4);
            text(f.out, value);
            fputs("</text>", f.out);
        }
    }
    fputs("</g>\n", f.out);
}

// A row of values: one piece per stretch of the same value, starting from
// the value the row had at the left edge.
void value_row(const Frame &f, int r) {
    const Row &row = kRows[r];
    const Timeline &t = *f.t;
    const char *value = "";
    int64_t from = t.from_ms;
    double last_y = -1;
    for (int i = 0; i < t.count; ++i) {
        const TimelineChange &c = t.changes[i];
        if (c.row != row.value || c.ms >= t.to_ms) {
            continue;
        }
        if (c.ms > t.from_ms) {
            if (row.kind == RowKind::kDigital) {
                digital(f, row, r, value, from, c.ms, &last_y);
            } else {
                cells(f, row, r, value, from, c.ms);
            }
            from = c.ms;
        }
        value = c.text;
    }
    if (row.kind == RowKind::kDigital) {
        digital(f, row, r, value, from, t.to_ms, &last_y);
    } else {
        cells(f, row, r, value, from, t.to_ms);
    }
}

// A mark per event. Bus events carry their message centred above or below
// the mark, in whichever of the two lines has room, so close events still
// show theirs; the last row is taller for that.
void event_row(const Frame &f, int r) {
    const Row &row = kRows[r];
    const double mid =
        row_top(r) + (row.kind == RowKind::kEvents ? kEventRowExtra : 0) / 2 + kRowHeight / 2;
    double line_end[2] = {0, 0};  // where the labels above and below end
    for (int i = 0; i < f.t->count; ++i) {
        const TimelineChange &c = f.t->changes[i];
        if (c.row != row.value || c.ms < f.t->from_ms || c.ms > f.t->to_ms) {
            continue;
        }
        const double x = f.x(c.ms);
        fputs("<g><title>", f.out);
        text(f.out, row.kind == RowKind::kEvents ? c.text : "re-detection");
        fputs(" at ", f.out);
        moment(f, c.ms);
        fputs("</title>", f.out);
        if (row.kind == RowKind::kRedetects) {
            fprintf(f.out, "<path d=\"M %.1f,%.1f V %.1f\" stroke=\"%s\" stroke-width=\"2\"/>", x,
                    mid - kRowHeight / 2 + 2, mid + kRowHeight / 2 - 2, row.colour);
        } else {
            fprintf(f.out, "<circle cx=\"%.1f\" cy=\"%.1f\" r=\"3.5\" fill=\"%s\"/>", x, mid,
                    row.colour);
            const char *msg = strchr(c.text, ':');
            msg = msg != nullptr ? msg + 1 : c.text;
            const double half = strlen(msg) * kCharWidth / 2;
            const double tx = fmax(half + 2, fmin(x, kWidth - half - 2));  // inside the picture
            for (int line = 0; line < 2; ++line) {
                if (tx - half > line_end[line] + 4) {
                    fprintf(f.out,
                            "<text x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\" fill=\"#000\" "
                            "stroke=\"none\">",
                            tx, line == 0 ? mid - 7 : mid + 15);
                    text(f.out, msg);
                    fputs("</text>", f.out);
                    line_end[line] = tx + half;
                    break;
                }
            }
        }
        fputs("</g>\n", f.out);
    }
}

// Ticks at 1, 2 or 5 times a power of ten seconds, about ten of them.
void axis(const Frame &f) {
    const double span = static_cast<double>(f.t->to_ms - f.t->from_ms) / 1000;
    double step = pow(10, floor(log10(span / 10)));  // span / step in [10, 100)
    step *= span / step <= 12 ? 1 : span / step <= 24 ? 2 : span / step <= 60 ? 5 : 10;
    const double base = row_top(kRowCount) + kEventRowExtra + 4;
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

}  // namespace

void write_timeline_svg(const Timeline &t, FILE *out) {
    const Frame f{&t, out, kWidth - kLeft - kRight};
    const double height = row_top(kRowCount) + kEventRowExtra + 48;
    fprintf(out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
            "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"11\">\n"
            "<rect width=\"100%%\" height=\"100%%\" fill=\"#fff\"/>\n<text x=\"10\" y=\"20\" "
            "font-size=\"14\">",
            kWidth, height, kWidth, height);
    text(out, t.title);
    if (t.format == TimeFormat::kSeconds) {
        fprintf(out, ", virtual time %.1f s to %.1f s", static_cast<double>(t.from_ms) / 1000,
                static_cast<double>(t.to_ms) / 1000);
    } else {
        char from[40];
        char to[40];
        format_time(from, sizeof from, t.from_ms, t.format);
        format_time(to, sizeof to, t.to_ms, t.format);
        fprintf(out, ", %s to %s", from, to);
    }
    fprintf(out,
            "</text>\n<text x=\"10\" y=\"38\" fill=\"#555\">High: "
            "DC up, LED lit steady, output on. Square wave: LED blinking. Grey: not known yet. "
            "Over-current (OC): 0 off, 1 on and idle, 2 on and drawing, 3 over the limit. "
            "Hover for values and times.</text>\n<g fill=\"none\" stroke-width=\"1.5\">\n");
    axis(f);
    fputs("</g>\n", out);
    for (int r = 0; r < kRowCount; ++r) {
        const double extra = kRows[r].kind == RowKind::kEvents ? kEventRowExtra / 2 : 0;
        fprintf(out, "<text x=\"10\" y=\"%.1f\">%s</text>\n",
                row_top(r) + extra + kRowHeight / 2 + 4, kRows[r].label);
        fputs("<g fill=\"none\" stroke-width=\"1.5\">\n", out);
        if (kRows[r].kind == RowKind::kDigital || kRows[r].kind == RowKind::kCells) {
            value_row(f, r);
        } else {
            event_row(f, r);
        }
        fputs("</g>\n", out);
    }
    fputs("</svg>\n", out);
}

}  // namespace pbview
