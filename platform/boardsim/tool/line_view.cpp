// The line view: changes ordered by time, grouped and written as logfmt.
#include "line_view.h"

#include <string.h>

namespace boardsim_tool {

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
    if (!any || view->quiet) {
        return;
    }
    fprintf(view->out, "t=%.3f", static_cast<double>(view->pending[0].ms) / 1000.0);
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

}  // namespace

void lines_init(LineView *view, FILE *out) {
    view->out = out;
    view->quiet = false;
    view->count = 0;
    memset(view->printed, 0, sizeof view->printed);
}

void lines_add(void *ctx, const ViewChange &change) {
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
    while (view->count > 0 && (upto_ms == INT64_MAX || view->pending[0].ms + kGroupMs <= upto_ms)) {
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
            fprintf(view->out, "t=%.3f", static_cast<double>(ms) / 1000.0);
            any = true;
        }
        fprintf(view->out, " %s=", value_name(v));
        put_value(view->out, view->printed[v]);
    }
    if (any) {
        fputc('\n', view->out);
        fflush(view->out);
    }
}

}  // namespace boardsim_tool
