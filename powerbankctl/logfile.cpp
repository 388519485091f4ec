// The change log's file. It lives in RAM on the device, so it is bounded: when
// a line would pass the size, the oldest half is dropped in place (no second
// file, so it works in a full directory too).
#include "logfile.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "logfmt.h"

namespace powerbankctl {

namespace {

using namespace pbview;

void complain(LogFile *log, const char *what) {
    if (!log->complained) {
        fprintf(stderr, "powerbankctl: %s the log %s: %s (lines lost)\n", what, log->path,
                strerror(errno));
        log->complained = true;
    }
}

bool open_log_for_writing(LogFile *log) {
    // Not O_APPEND: the trim writes at the start. O_NONBLOCK: a FIFO at the
    // path must not hold the recorder.
    log->fd = open(log->path, O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
    struct stat st;
    if (log->fd >= 0 && fstat(log->fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        close(log->fd);
        log->fd = -1;
        errno = EINVAL;
    }
    if (log->fd < 0) {
        complain(log, "cannot open");
    }
    return log->fd >= 0;
}

// Drops the oldest half of the SIZE bytes, from a line's start on; the new
// size. The kept lines are moved to the start in chunks, each read before
// anything is written over it.
int64_t trim(LogFile *log, int64_t size) {
    char chunk[2048];
    int64_t from = size - log->max / 2;
    ssize_t got = pread(log->fd, chunk, sizeof chunk, from);
    const char *nl = got > 0
                         ? static_cast<const char *>(memchr(chunk, '\n', static_cast<size_t>(got)))
                         : nullptr;
    from = nl != nullptr ? from + (nl - chunk) + 1 : size;
    int64_t to = 0;
    for (bool ok = true; from < size; from += got, to += got) {
        got = pread(log->fd, chunk, sizeof chunk, from);
        ok = got > 0 && pwrite(log->fd, chunk, static_cast<size_t>(got), to) == got;
        if (!ok) {
            to = 0;  // what is left is no log: start afresh
            break;
        }
    }
    return ftruncate(log->fd, to) == 0 ? to : size;
}

}  // namespace

void log_init(LogFile *log, const char *path, int64_t max) {
    log->path = path;
    log->fd = -1;
    log->complained = false;
    log->max = max < 4096 ? 4096 : max;
}

bool log_append(LogFile *log, const char *text, size_t n) {
    struct stat st;
    // Removed, or another file renamed over it: a new one.
    if (log->fd >= 0 && (fstat(log->fd, &st) != 0 || st.st_nlink == 0)) {
        log_close(log);
    }
    if (log->fd < 0 && (!open_log_for_writing(log) || fstat(log->fd, &st) != 0)) {
        return false;
    }
    int64_t size = st.st_size;
    const bool trimmed = size + static_cast<int64_t>(n) > log->max;
    if (trimmed) {
        size = trim(log, size);
    }
    const ssize_t wrote = pwrite(log->fd, text, n, size);
    if (wrote != static_cast<ssize_t>(n)) {
        complain(log, "cannot write");
        // No half line stays behind for the next one to run into; a file that
        // will not shrink is opened afresh next time.
        if (wrote > 0 && ftruncate(log->fd, size) != 0) {
            log_close(log);
        }
        return trimmed;
    }
    log->complained = false;
    return trimmed;
}

void log_close(LogFile *log) {
    if (log->fd >= 0) {
        close(log->fd);
        log->fd = -1;
    }
}

int open_log(const char *path) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        fprintf(stderr, "powerbankctl: cannot read the log %s: %s\n", path, strerror(errno));
    }
    return fd;
}

bool line_time(const char *line, size_t n, int64_t *ms) {
    if (n < 3 || line[0] != 't' || line[1] != '=') {
        return false;
    }
    const char *end = static_cast<const char *>(memchr(line, ' ', n));
    return parse_time(line + 2, static_cast<size_t>((end != nullptr ? end : line + n) - line - 2),
                      ms, nullptr);
}

bool parse_when(const char *text, int64_t *ms) {
    return parse_time(text, strlen(text), ms, nullptr);
}

void reader_init(LineReader *r, int fd, int64_t at) {
    r->fd = fd;
    r->at = at;
    r->pos = r->len = 0;
    r->skipping = false;
}

bool reader_next(LineReader *r, const char **line, size_t *n) {
    for (;;) {
        char *start = r->buf + r->pos;
        char *nl = static_cast<char *>(memchr(start, '\n', r->len - r->pos));
        if (nl != nullptr) {
            const size_t len = static_cast<size_t>(nl - start);
            r->pos += len + 1;
            r->at += static_cast<int64_t>(len + 1);
            if (r->skipping) {
                r->skipping = false;
                continue;
            }
            *line = start;
            *n = len;
            return true;
        }
        memmove(r->buf, start, r->len - r->pos);
        r->len -= r->pos;
        r->pos = 0;
        if (r->len == sizeof r->buf) {
            r->at += static_cast<int64_t>(r->len);  // no line is that long: drop it
            r->len = 0;
            r->skipping = true;
        }
        const ssize_t got = pread(r->fd, r->buf + r->len, sizeof r->buf - r->len,
                                  r->at + static_cast<int64_t>(r->len));
        if (got <= 0) {
            return false;
        }
        r->len += static_cast<size_t>(got);
    }
}

}  // namespace powerbankctl
