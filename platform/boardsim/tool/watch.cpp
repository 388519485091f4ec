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
    bool drawn = false;
};

void apply(void *ctx, const JournalEntry &e) {
    model_apply(static_cast<BoardModel *>(ctx), e);
}

// The time up to which the journal is taken as complete: a line is stamped
// just before it is written, so the last moments may still be on their way.
int64_t settled_ms(const Clock &clock) {
    int64_t margin = static_cast<int64_t>(30 * clock.speed);
    return virtual_ms(clock) - (margin > 250 ? margin : 250);
}

void start(Watch *w, double speed) {
    lines_init(&w->view, stdout, TimeFormat::kSeconds);
    model_init(&w->model, speed, w->use_panel ? nullptr : lines_add, &w->view);
}

void draw(Watch *w, const char *dir, const Clock &clock) {
    panel_render(w->model, dir, clock, &w->panel);
    struct winsize ws;
    int cols = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 1 ? ws.ws_col : 80;
    if (w->drawn) {
        printf("\033[%dA", Panel::kLines);  // back to the panel's first line
    }
    for (int i = 0; i < Panel::kLines; ++i) {
        const char *text = i < w->panel.count ? w->panel.lines[i] : "";
        // Cut to the width: a wrapped line would push the panel down.
        printf("\r%.*s\033[K\n", cols - 1, text);
    }
    fflush(stdout);
    w->drawn = true;
}

}  // namespace

int cmd_watch(const char *dir, int argc, char **argv) {
    bool lines = false;
    bool all = false;
    bool once = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--lines") == 0) {
            lines = true;
        } else if (strcmp(argv[i], "--all") == 0) {
            all = true;
        } else if (strcmp(argv[i], "--once") == 0) {
            once = true;
        } else {
            return usage("watch [--lines] [--all] [--once]");
        }
    }
    static Watch w;
    w.use_panel = !lines && !once && isatty(STDOUT_FILENO);
    Clock clock;
    if (!follower_init(&w.follower, dir) || !read_clock(dir, &clock)) {
        return kFailed;
    }
    start(&w, clock.speed);

    // What happened before: printed with --all, else taken in silently and
    // summed up in one line of the values as they stand.
    w.view.quiet = !all;
    follower_read(&w.follower, apply, &w.model);
    model_advance(&w.model, once ? virtual_ms(clock) : settled_ms(clock));
    model_seed(&w.model, dir, w.model.now_ms);
    const int64_t upto = once ? INT64_MAX : w.model.now_ms - w.model.led_window_ms;
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
        if (follower_read(&w.follower, apply, &w.model) == FollowResult::kRestarted) {
            start(&w, clock.speed);  // the board was made anew
            continue;
        }
        if (read_clock(dir, &clock)) {
            model_advance(&w.model, settled_ms(clock));
        }
        if (w.use_panel) {
            draw(&w, dir, clock);
        } else {
            lines_flush(&w.view, w.model.now_ms - w.model.led_window_ms);
        }
        usleep(kPollUs);
    }
    if (!w.use_panel) {
        lines_flush(&w.view, INT64_MAX);
    }
    return kOk;
}

}  // namespace boardsim_tool
