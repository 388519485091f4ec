// logfmt lines: changes ordered by time, grouped and written; and read back.
#include "logfmt.h"

#include <stdlib.h>
#include <string.h>
#include <time.h>

namespace pbview {

namespace {

// A logfmt value: bare when it is one plain word, else quoted.
void put_value(FILE *out, const char *value) {
    bool bare = value[0] != '\0';
    for (const char *p = value; *p && bare; ++p) {
        bare = *p > ' ' && *p < 0x7f && *p != '"' && *p != '=' && *p != '\\';
    }
    if (bare) {
        fputs(value, out);
        return;
    }
    fputc('"', out);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(value); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            fprintf(out, "\\%c", *p);
        } else if (*p < ' ' || *p >= 0x7f) {
            fprintf(out, *p == '\n' ? "\\n" : *p == '\r' ? "\\r" : "\\x%02x", *p);
        } else {
            fputc(*p, out);
        }
    }
    fputc('"', out);
}

void put_time(LineView *view, int64_t ms) {
    char t[40];
    format_time(t, sizeof t, ms, view->format);
    fprintf(view->out, "t=%s", t);
}

// Writes the first N pending changes as one line.
void emit(LineView *view, int n) {
    struct Word {
        const LineView::Pending *change;
        bool keep;
    } words[LineView::kPending];
    int count = 0;
    for (int i = 0; i < n; ++i) {
        const LineView::Pending &c = view->pending[i];
        int same = -1;
        for (int w = 0; w < count && c.row >= 0; ++w) {
            same = words[w].change->row == c.row ? w : same;
        }
        if (same >= 0) {
            words[same].change = &c;  // the later value of the same moment wins
        } else {
            words[count++] = {&c, true};
        }
    }
    bool any = false;
    for (int w = 0; w < count; ++w) {
        const int v = words[w].change->row;
        if (v >= 0) {
            words[w].keep = strcmp(view->printed[v], words[w].change->value) != 0;
            copy_text(view->printed[v], words[w].change->value);
        }
        any = any || words[w].keep;
    }
    // Once the daemon is gone nothing holds the other values: whatever comes
    // after a new start is printed again.
    if (strcmp(view->printed[kDaemon], "down") == 0) {
        for (int v = 0; v < kValueCount; ++v) {
            if (v != kDaemon) {
                view->printed[v][0] = '\0';
            }
        }
    }
    if (!any || view->quiet) {
        return;
    }
    put_time(view, view->pending[0].ms);
    for (int w = 0; w < count; ++w) {
        if (words[w].keep) {
            fprintf(view->out, " %s=", words[w].change->name);
            put_value(view->out, words[w].change->value);
        }
    }
    fputc('\n', view->out);
}

// How many pending changes form the first line: those within kGroupMs of the
// first, up to a second event of the same name.
int group_size(const LineView *view) {
    int n = 1;
    for (; n < view->count && view->pending[n].ms <= view->pending[0].ms + kGroupMs; ++n) {
        for (int i = 0; i < n; ++i) {
            if (view->pending[n].row < 0 && view->pending[i].row == view->pending[n].row) {
                return n;
            }
        }
    }
    return n;
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
// (32-bit arithmetic for the year: a 64-bit division costs the device's
// companion the C compiler's division routines.)
int64_t days_from_civil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// N decimal digits at P into *OUT.
bool digits(const char *p, int n, unsigned *out) {
    unsigned v = 0;
    for (int i = 0; i < n; ++i) {
        if (p[i] < '0' || p[i] > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned>(p[i] - '0');
    }
    *out = v;
    return true;
}

// "2026-12-06T04:45:06.123Z", exactly as format_time writes it.
bool parse_wall_clock(const char *s, size_t n, int64_t *ms) {
    unsigned y, mo, d, h, mi, se, milli;
    if (n != 24 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' ||
        s[19] != '.' || s[23] != 'Z' || !digits(s, 4, &y) || !digits(s + 5, 2, &mo) ||
        !digits(s + 8, 2, &d) || !digits(s + 11, 2, &h) || !digits(s + 14, 2, &mi) ||
        !digits(s + 17, 2, &se) || !digits(s + 20, 3, &milli) || mo < 1 || mo > 12 || d < 1 ||
        d > 31 || h > 23 || mi > 59 || se > 60) {
        return false;
    }
    const int64_t days = days_from_civil(static_cast<int>(y), mo, d);
    *ms = ((days * 24 + h) * 60 + mi) * 60000 + static_cast<int64_t>(se) * 1000 + milli;
    return true;
}

// "812.344": seconds with up to three decimals.
bool parse_seconds(const char *s, size_t n, int64_t *ms) {
    int64_t whole = 0;
    size_t i = 0;
    for (; i < n && s[i] >= '0' && s[i] <= '9' && i < 12; ++i) {
        whole = whole * 10 + (s[i] - '0');
    }
    if (i == 0) {
        return false;
    }
    int64_t frac = 0;
    int places = 0;
    if (i < n && s[i] == '.') {
        for (++i; i < n && s[i] >= '0' && s[i] <= '9' && places < 3; ++i, ++places) {
            frac = frac * 10 + (s[i] - '0');
        }
        if (places == 0) {
            return false;
        }
    }
    for (; places < 3; ++places) {
        frac *= 10;
    }
    *ms = whole * 1000 + frac;
    return i == n;
}

constexpr int kWordsMax = 32;

struct Word {
    const char *name;
    size_t name_len;
    char value[200];
};

// The value at *P (bare or quoted) into OUT, *P moved behind it. False when a
// quoted value does not end or holds a bad escape.
bool read_value(const char **p, const char *end, char (&out)[200]) {
    const char *s = *p;
    size_t n = 0;
    if (s < end && *s == '"') {
        for (++s; s < end && *s != '"'; ++s) {
            char c = *s;
            if (c == '\\') {
                if (++s == end) {
                    return false;
                }
                unsigned hex = 0;
                switch (*s) {
                    case 'n':
                        c = '\n';
                        break;
                    case 'r':
                        c = '\r';
                        break;
                    case '"':
                    case '\\':
                        c = *s;
                        break;
                    case 'x':
                        for (int i = 1; i <= 2; ++i) {
                            const char h = s + i < end ? s[i] : '\0';
                            const char *hexes = "0123456789abcdef";
                            const char *at = h != '\0' ? strchr(hexes, h) : nullptr;
                            if (at == nullptr) {
                                return false;
                            }
                            hex = hex * 16 + static_cast<unsigned>(at - hexes);
                        }
                        s += 2;
                        c = static_cast<char>(hex);
                        break;
                    default:
                        return false;
                }
            }
            if (n + 1 < sizeof out && c != '\0') {
                out[n++] = c;
            }
        }
        if (s == end) {
            return false;
        }
        ++s;  // the closing quote
    } else {
        for (; s < end && *s != ' '; ++s) {
            if (n + 1 < sizeof out) {
                out[n++] = *s;
            }
        }
    }
    out[n] = '\0';
    *p = s;
    return true;
}

}  // namespace

void format_time(char *out, size_t size, int64_t ms, TimeFormat format) {
    const lldiv_t s = lldiv(ms, 1000);  // the C library's, not the compiler's routines
    if (format == TimeFormat::kSeconds) {
        snprintf(out, size, "%lld.%03d", s.quot, static_cast<int>(s.rem));
        return;
    }
    const time_t seconds = static_cast<time_t>(s.quot);
    struct tm tm;
    gmtime_r(&seconds, &tm);
    snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1,
             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(s.rem));
}

bool parse_time(const char *text, size_t n, int64_t *ms, TimeFormat *format) {
    TimeFormat f = TimeFormat::kSeconds;
    bool ok = parse_seconds(text, n, ms);
    if (!ok && parse_wall_clock(text, n, ms)) {
        f = TimeFormat::kWallClock;
        ok = true;
    }
    if (ok && format != nullptr) {
        *format = f;
    }
    return ok;
}

void lines_init(LineView *view, FILE *out, TimeFormat format) {
    view->out = out;
    view->format = format;
    view->quiet = false;
    view->count = 0;
    memset(view->printed, 0, sizeof view->printed);
}

void lines_add(void *ctx, const Change &change) {
    auto *view = static_cast<LineView *>(ctx);
    if (view->count == LineView::kPending) {
        lines_flush(view, INT64_MAX);  // never expected: a board changes far less often
    }
    // After every change of the same time or earlier: equal times keep their order.
    int at = view->count;
    while (at > 0 && view->pending[at - 1].ms > change.ms) {
        --at;
    }
    memmove(&view->pending[at + 1], &view->pending[at],
            static_cast<size_t>(view->count - at) * sizeof view->pending[0]);
    LineView::Pending &p = view->pending[at];
    p.ms = change.ms;
    p.row = change.row;
    copy_text(p.name, change.name);
    copy_text(p.value, change.value);
    ++view->count;
}

void lines_flush(LineView *view, int64_t upto_ms) {
    // A change at UPTO_MS itself may still come: a line closes only before it.
    while (view->count > 0 && (upto_ms == INT64_MAX || view->pending[0].ms + kGroupMs < upto_ms)) {
        int n = group_size(view);
        emit(view, n);
        view->count -= n;
        memmove(&view->pending[0], &view->pending[n],
                static_cast<size_t>(view->count) * sizeof view->pending[0]);
    }
    fflush(view->out);
}

void lines_state(LineView *view, int64_t ms) {
    bool any = false;
    for (int v = 0; v < kValueCount; ++v) {
        if (view->printed[v][0] == '\0') {
            continue;
        }
        if (!any) {
            put_time(view, ms);
            any = true;
        }
        fprintf(view->out, " %s=", row_name(v));
        put_value(view->out, view->printed[v]);
    }
    if (any) {
        fputc('\n', view->out);
        fflush(view->out);
    }
}

bool parse_line(const char *line, size_t len, ChangeSink sink, void *ctx, TimeFormat *format) {
    const char *end = line + len;
    if (len < 3 || memcmp(line, "t=", 2) != 0) {
        return false;
    }
    const char *p = line + 2;
    const char *t_end = static_cast<const char *>(memchr(p, ' ', static_cast<size_t>(end - p)));
    t_end = t_end != nullptr ? t_end : end;
    int64_t ms = 0;
    if (!parse_time(p, static_cast<size_t>(t_end - p), &ms, format)) {
        return false;
    }
    Word words[kWordsMax];
    int count = 0;
    for (p = t_end; p < end;) {
        if (*p == ' ') {
            ++p;
            continue;
        }
        const char *eq = p;
        while (eq < end && *eq != '=' && *eq != ' ') {
            ++eq;
        }
        if (eq == end || *eq != '=' || eq == p || count == kWordsMax) {
            return false;
        }
        Word &w = words[count];
        w.name = p;
        w.name_len = static_cast<size_t>(eq - p);
        p = eq + 1;
        if (!read_value(&p, end, w.value) || (p < end && *p != ' ')) {
            return false;
        }
        ++count;
    }
    for (int i = 0; i < count; ++i) {
        int row = 0;
        if (row_from_name(words[i].name, words[i].name_len, &row)) {
            sink(ctx, Change{ms, row, row_name(row), words[i].value});
        }
    }
    return true;
}

}  // namespace pbview
