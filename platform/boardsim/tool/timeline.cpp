// timeline: the run's changes collected from the journal, then drawn.
#include "timeline.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "board_files.h"
#include "board_model.h"
#include "journal_reader.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

struct Collect {
    BoardModel model;
    Timeline timeline;
    int64_t last_ms = 0;
};

void apply(void *ctx, const JournalEntry &e) {
    auto *c = static_cast<Collect *>(ctx);
    model_apply(&c->model, e);
    c->last_ms = e.ms;
}

bool parse_seconds(const char *s, int64_t *ms) {
    char *end = nullptr;
    double v = strtod(s, &end);
    if (end == s || *end != '\0' || !isfinite(v) || v < 0 || v > 1e12) {
        return false;
    }
    *ms = llround(v * 1000);
    return true;
}

}  // namespace

int cmd_timeline(const char *dir, int argc, char **argv) {
    static const char kForm[] = "timeline [-o FILE.svg] [--from SECONDS] [--to SECONDS]";
    static const char *const kOptions[] = {"-o", "--from", "--to", nullptr};
    const char *output = nullptr;
    int64_t from = -1;
    int64_t to = -1;
    for (int i = 0; i < argc; ++i) {
        if (!is_one_of(argv[i], kOptions)) {
            return bad_word("option", argv[i], kOptions, kForm);
        }
        if (i + 1 == argc) {
            return usage_of(kForm, "%s needs a value", argv[i]);
        }
        if (strcmp(argv[i], "-o") == 0) {
            output = argv[++i];
        } else if (!parse_seconds(argv[i + 1], strcmp(argv[i], "--from") == 0 ? &from : &to)) {
            return usage_of(kForm, "%s takes virtual seconds, 0 or more, not '%s'", argv[i],
                            argv[i + 1]);
        } else {
            ++i;
        }
    }
    if (from >= 0 && to >= 0 && to <= from) {
        return usage_of(kForm, "--to %.3f must come after --from %.3f",
                        static_cast<double>(to) / 1000, static_cast<double>(from) / 1000);
    }
    static Collect c;
    Clock clock;
    JournalFollower f;
    if (!read_clock(dir, &clock) || !follower_init(&f, dir)) {
        return kFailed;
    }
    model_init(&c.model, timeline_add, &c.timeline);
    follower_read(&f, apply, &c);
    if (c.timeline.out_of_memory) {
        fprintf(stderr, "boardsim: out of memory for the timeline\n");
        return kFailed;
    }
    if (from > 0 && from >= c.last_ms) {
        return usage_of(kForm, "--from %.3f is past the end of the journal, %.3f s",
                        static_cast<double>(from) / 1000, static_cast<double>(c.last_ms) / 1000);
    }

    char title[boardsim::kPathMax + 8];
    snprintf(title, sizeof title, "Board %s", dir);
    Timeline &t = c.timeline;
    t.title = title;
    t.rows = kAllRows;
    t.from_ms = from >= 0 ? from : 0;
    t.to_ms = to >= 0 ? to : c.last_ms;
    if (t.to_ms <= t.from_ms) {
        t.to_ms = t.from_ms + 1000;  // nothing journalled yet: an empty second
    }
    FILE *out = output != nullptr ? fopen(output, "w") : stdout;
    if (out == nullptr) {
        fprintf(stderr, "boardsim: cannot write %s: %s\n", output, strerror(errno));
        return kFailed;
    }
    write_timeline_svg(t, out);
    bool ok = !ferror(out);
    ok = (output != nullptr ? fclose(out) == 0 : fflush(out) == 0) && ok;
    timeline_free(&t);
    return ok ? kOk : kFailed;
}

}  // namespace boardsim_tool
