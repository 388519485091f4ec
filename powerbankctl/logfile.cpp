// The change log's file. It lives in RAM on the device, so it is bounded: when
// a line would pass the size, the oldest half is dropped in place (no second
// file, so it works in a full directory too), and a line of the values as
// they stood is put in front of what is kept: the log always tells the whole
// state from its first line on.
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
        fprintf(stderr, "powerbankctl: %s the log %s: %s (its lines are lost until it can)\n", what,
                log->path, strerror(errno));
        log->complained = true;
    }
}

bool open_log(LogFile *log) {
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

// The line of every value as it stood at the end of the first CUT bytes,
// stamped with the time of the first line after them, into LOG->state_buf.
size_t state_line(LogFile *log, int64_t cut, int64_t *kept_from) {
    static LineView state;
    lines_init(&state, log->state, TimeFormat::kWallClock);
    state.quiet = true;
    static LineReader r;
    reader_init(&r, log->fd, 0);
    const char *line = nullptr;
    size_t n = 0;
    bool more = true;
    while (r.at < cut && (more = reader_next(&r, &line, &n))) {
        parse_line(line, n, lines_add, &state, nullptr);
        lines_flush(&state, INT64_MAX);
    }
    *kept_from = r.at;
    int64_t ms = 0;
    if (!more || !reader_next(&r, &line, &n) || !line_time(line, n, &ms)) {
        return 0;  // nothing kept, or no time to give the state
    }
    rewind(log->state);
    lines_state(&state, ms);
    const long len = ftell(log->state);
    return len > 0 ? static_cast<size_t>(len) : 0;
}

// Drops the oldest half of the SIZE bytes; the new size.
int64_t trim(LogFile *log, int64_t size) {
    int64_t from = 0;
    const size_t head = state_line(log, size - log->max / 2, &from);
    int64_t to = static_cast<int64_t>(head);
    bool ok = head == 0 || pwrite(log->fd, log->state_buf, head, 0) == static_cast<ssize_t>(head);
    // Copied forward in chunks: each is read before anything is written over it.
    char chunk[2048];
    for (ssize_t got = 1; ok && from < size; from += got, to += got) {
        got = pread(log->fd, chunk, sizeof chunk, from);
        ok = got > 0 && pwrite(log->fd, chunk, static_cast<size_t>(got), to) == got;
    }
    if (!ok) {
        to = 0;  // what is left is no log: start afresh
    }
    return ftruncate(log->fd, to) == 0 ? to : size;
}

}  // namespace

void log_init(LogFile *log, const char *path, int64_t max) {
    log->path = path;
    log->max = max < 4096 ? 4096 : max;
    log->state = fmemopen(log->state_buf, sizeof log->state_buf, "w");
}

void log_append(LogFile *log, const char *text, size_t n) {
    struct stat st;
    if (log->fd >= 0 && (fstat(log->fd, &st) != 0 || st.st_nlink == 0)) {
        close(log->fd);  // removed, or another file renamed over it
        log->fd = -1;
    }
    if ((log->fd < 0 && !open_log(log)) || fstat(log->fd, &st) != 0) {
        return;
    }
    int64_t size = st.st_size;
    if (size + static_cast<int64_t>(n) > log->max && log->state != nullptr) {
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
        return;
    }
    log->complained = false;
}

void log_close(LogFile *log) {
    if (log->fd >= 0) {
        close(log->fd);
        log->fd = -1;
    }
}

bool line_time(const char *line, size_t n, int64_t *ms) {
    if (n < 3 || memcmp(line, "t=", 2) != 0) {
        return false;
    }
    const char *end = static_cast<const char *>(memchr(line, ' ', n));
    return parse_time(line + 2, static_cast<size_t>((end != nullptr ? end : line + n) - line - 2),
                      ms, nullptr);
}

bool parse_when(const char *text, int64_t *ms) {
    const size_t n = strlen(text);
    char full[32];
    // Whole seconds ("...T04:45:06Z") stand for their first millisecond.
    if (n == 20 && text[19] == 'Z') {
        snprintf(full, sizeof full, "%.19s.000Z", text);
        text = full;
    }
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
