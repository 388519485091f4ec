// timeline [LOG] [-o FILE.svg] [--from TIME] [--to TIME]: the change log as
// the board tool's picture, by the same renderer.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include "ctl.h"
#include "logfile.h"
#include "timeline.h"

namespace powerbankctl {

int cmd_timeline(const Paths &paths, int argc, char **argv) {
    const char *log = nullptr;
    const char *output = nullptr;
    int64_t from = INT64_MIN;
    int64_t to = INT64_MIN;
    for (int i = 0; i < argc; ++i) {
        const bool has_arg = i + 1 < argc;
        if (strcmp(argv[i], "-o") == 0 && has_arg) {
            output = argv[++i];
        } else if (strcmp(argv[i], "--from") == 0 && has_arg && parse_when(argv[i + 1], &from)) {
            ++i;
        } else if (strcmp(argv[i], "--to") == 0 && has_arg && parse_when(argv[i + 1], &to)) {
            ++i;
        } else if (argv[i][0] != '-' && log == nullptr) {
            log = argv[i];
        } else {
            return usage();
        }
    }
    log = log != nullptr ? log : paths.log;
    const int fd = open_log(log);
    if (fd < 0) {
        return kFailed;
    }
    pbview::Timeline t;
    static LineReader r;
    reader_init(&r, fd, 0);
    const char *line = nullptr;
    size_t n = 0;
    while (reader_next(&r, &line, &n)) {
        pbview::parse_line(line, n, pbview::timeline_add, &t, nullptr);
    }
    close(fd);
    if (t.out_of_memory || t.count == 0) {
        fprintf(stderr, "powerbankctl: no changes read from %s\n", log);
        return kFailed;
    }
    char title[512];
    snprintf(title, sizeof title, "powerbank log %s", log);
    t.title = title;
    t.format = pbview::TimeFormat::kWallClock;
    t.from_ms = from != INT64_MIN ? from : t.changes[0].ms;
    t.to_ms = to != INT64_MIN ? to : t.changes[t.count - 1].ms;
    if (t.to_ms <= t.from_ms) {
        if (to != INT64_MIN) {
            return usage();  // --to before --from
        }
        t.to_ms = t.from_ms + 1000;  // one moment: a second to show it in
    }
    if (output != nullptr && freopen(output, "w", stdout) == nullptr) {
        fprintf(stderr, "powerbankctl: cannot write %s: %s\n", output, strerror(errno));
        return kFailed;
    }
    pbview::write_timeline_svg(t, stdout);
    pbview::timeline_free(&t);
    return fflush(stdout) == 0 && !ferror(stdout) ? kOk : kFailed;
}

}  // namespace powerbankctl
