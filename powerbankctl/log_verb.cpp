// log [-f] [--since TIME]: the change log, and what comes after.
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

namespace {

struct Follow {
    LineReader reader;
    int64_t since = INT64_MIN;
    char last[2048];  // the last line printed, to find its place again after a trim
    size_t last_len = 0;
};

void print_lines(Follow *f) {
    const char *line = nullptr;
    size_t n = 0;
    while (reader_next(&f->reader, &line, &n)) {
        int64_t ms = 0;
        if (f->since != INT64_MIN && (!line_time(line, n, &ms) || ms < f->since)) {
            continue;
        }
        fwrite(line, 1, n, stdout);
        fputc('\n', stdout);
        memcpy(f->last, line, n);
        f->last_len = n;
    }
    fflush(stdout);
}

// Where to go on in a log that was trimmed or made anew: behind the last
// line printed, or from its start when that line is gone.
int64_t resume_at(Follow *f, int fd) {
    LineReader &r = f->reader;
    reader_init(&r, fd, 0);
    const char *line = nullptr;
    size_t n = 0;
    while (f->last_len > 0 && reader_next(&r, &line, &n)) {
        if (n == f->last_len && memcmp(line, f->last, n) == 0) {
            return r.at;
        }
    }
    return 0;
}

}  // namespace

int cmd_log(const Paths &paths, int argc, char **argv) {
    static Follow f;
    bool follow = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "-f") == 0) {
            follow = true;
        } else if (strcmp(argv[i], "--since") != 0 || i + 1 == argc ||
                   !parse_when(argv[++i], &f.since)) {
            return usage("log");
        }
    }
    int fd = open(paths.log, O_RDONLY | O_CLOEXEC);
    if (fd < 0 && !follow) {
        fprintf(stderr,
                "powerbankctl: cannot read the log %s (-l or POWERBANK_LOG names another): %s\n",
                paths.log, strerror(errno));
        return kFailed;
    }
    reader_init(&f.reader, fd, 0);
    for (;;) {
        if (fd >= 0) {
            print_lines(&f);
        }
        if (!follow) {
            close(fd);
            return kOk;
        }
        const struct timespec pause = {0, 250 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        // The recorder trims the file in place, and a new one may come.
        struct stat now;
        struct stat open_one;
        if (stat(paths.log, &now) != 0) {
            continue;
        }
        const bool replaced = fd < 0 || fstat(fd, &open_one) != 0 || open_one.st_ino != now.st_ino;
        if (replaced || now.st_size < f.reader.at) {
            if (replaced) {
                if (fd >= 0) {
                    close(fd);
                }
                fd = open(paths.log, O_RDONLY | O_CLOEXEC);
            }
            reader_init(&f.reader, fd, fd >= 0 ? resume_at(&f, fd) : 0);
        }
    }
}

}  // namespace powerbankctl
