// watch: follow a running board. On a terminal a panel redrawn in place,
// elsewhere one logfmt line per change.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "board_model.h"
#include "journal_reader.h"
#include "logfmt.h"
#include "panel.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

constexpr useconds_t kPollUs = 100000;
const char *const kWatchOptions[] = {"--lines", "--all", "--once", "--note", nullptr};

volatile sig_atomic_t g_stop = 0;

void on_signal(int) {
    g_stop = 1;
}

struct Watch {
    BoardModel model;
    LineView view;
    JournalFollower follower;
    Panel panel;
    bool use_panel = false;
    int drawn = 0;  // the lines of the panel on the screen
};

void start(Watch *w) {
    lines_init(&w->view, stdout, TimeFormat::kSeconds);
    model_init(&w->model, w->use_panel ? nullptr : lines_add, &w->view);
}

// The lines that nothing the journal brings later can change: the model
// reports no change before its time less the LED window.
int64_t settled(const Watch &w) {
    return w.model.now_ms - kLedWindowMs;
}

// One journal line into the model, and out as lines what it settled: the
// same steps whether the journal is followed as it grows or replayed.
void apply(void *ctx, const JournalEntry &e) {
    auto *w = static_cast<Watch *>(ctx);
    model_apply(&w->model, e);
    if (!w->use_panel) {
        lines_flush(&w->view, settled(*w));
    }
}

// The panel, redrawn over the last one: never more lines than the terminal
// has rows (one is left for the cursor), never a line wider than it, so
// nothing scrolls.
void draw(Watch *w, const char *dir, const Clock &clock, const char *note) {
    struct winsize ws;
    const bool sized = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0;
    const int cols = sized && ws.ws_col > 1 ? ws.ws_col : 80;
    const int rows = sized && ws.ws_row > 1 ? ws.ws_row : 24;
    panel_render(w->model, dir, clock, rows - 1, note, &w->panel);
    if (w->drawn > 0) {
        printf("\033[%dA", w->drawn);  // back to the panel's first line
    }
    for (int i = 0; i < w->panel.count; ++i) {
        printf("\r%.*s\033[K\n", cols, w->panel.lines[i]);
    }
    printf("\033[J");  // and nothing left of a longer panel below
    fflush(stdout);
    w->drawn = w->panel.count;
}

}  // namespace

int cmd_watch(const char *dir, int argc, char **argv) {
    bool lines = false;
    bool all = false;
    bool once = false;
    const char *note = "";
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--lines") == 0) {
            lines = true;
        } else if (strcmp(argv[i], "--all") == 0) {
            all = true;
        } else if (strcmp(argv[i], "--once") == 0) {
            once = true;
        } else if (strcmp(argv[i], "--note") == 0 && i + 1 < argc) {
            note = argv[++i];
        } else {
            return bad_word("option", argv[i], kWatchOptions,
                            "watch [--lines] [--all] [--once] [--note TEXT]");
        }
    }
    static Watch w;
    w.use_panel = !lines && !once && isatty(STDOUT_FILENO);
    Clock clock;
    if (!follower_init(&w.follower, dir) || !read_clock(dir, &clock)) {
        return kFailed;
    }
    start(&w);

    // What happened before: printed with --all, else taken in silently and
    // summed up in one line of the values as they stand.
    w.view.quiet = !all;
    follower_read(&w.follower, apply, &w);
    const int64_t upto = once ? INT64_MAX : settled(w);
    lines_flush(&w.view, upto);
    w.view.quiet = false;
    if (!all && !w.use_panel) {
        lines_state(&w.view, once ? w.model.now_ms : upto);
    }
    if (once) {
        return kOk;
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    while (!g_stop) {
        if (follower_read(&w.follower, apply, &w) == FollowResult::kRestarted) {
            start(&w);  // the board was made anew
            continue;
        }
        if (w.use_panel) {
            (void)read_clock(dir, &clock);
            draw(&w, dir, clock, note);
        }
        usleep(kPollUs);
    }
    // What came before the stop, then every line: as a replay would end.
    follower_read(&w.follower, apply, &w);
    if (!w.use_panel) {
        lines_flush(&w.view, INT64_MAX);
    }
    return kOk;
}

}  // namespace boardsim_tool
