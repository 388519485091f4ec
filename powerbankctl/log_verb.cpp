// log [-f] [--since TIME]: the change log, and with -f what comes after.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "ctl.h"
#include "logfile.h"

namespace powerbankctl {

int cmd_log(const Paths &paths, int argc, char **argv) {
    bool follow = false;
    int64_t since = INT64_MIN;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "-f") == 0) {
            follow = true;
        } else if (strcmp(argv[i], "--since") != 0 || i + 1 == argc ||
                   !parse_when(argv[++i], &since)) {
            return usage();
        }
    }
    int fd = follow ? open(paths.log, O_RDONLY | O_CLOEXEC) : open_log(paths.log);
    if (fd < 0 && !follow) {
        return kFailed;
    }
    static LineReader r;
    reader_init(&r, fd, 0);
    for (;;) {
        const char *line = nullptr;
        size_t n = 0;
        while (fd >= 0 && reader_next(&r, &line, &n)) {
            int64_t ms = 0;
            const bool timed = line_time(line, n, &ms);
            if (timed ? ms >= since : since == INT64_MIN) {
                printf("%.*s\n", static_cast<int>(n), line);
                // The recorder trims the log in place, so a follower may read
                // lines again: only newer ones are told.
                since = follow && timed ? ms + 1 : since;
            }
        }
        fflush(stdout);
        if (!follow) {
            close(fd);
            return kOk;
        }
        const struct timespec pause = {0, 250 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        // Trimmed (it shrank), or removed and made anew (the recorder's next
        // line makes a short file).
        struct stat now;
        if (stat(paths.log, &now) == 0 && (fd < 0 || now.st_size < r.at)) {
            if (fd >= 0) {
                close(fd);
            }
            fd = open(paths.log, O_RDONLY | O_CLOEXEC);
            reader_init(&r, fd, 0);
        }
    }
}

}  // namespace powerbankctl
