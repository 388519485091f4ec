// The change log's file: lines appended, bounded in size, and read back.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace powerbankctl {

struct LogFile {
    const char *path = nullptr;
    int64_t max = 64 * 1024;
    int fd = -1;
    bool complained = false;  // said why it cannot be written, until it can again
    FILE *state = nullptr;    // where the state line of a trim is formatted
    char state_buf[1024];
};

// Sets LOG up for PATH, at most MAX bytes (at least 4096).
void log_init(LogFile *log, const char *path, int64_t max);
// Appends TEXT (whole lines). When the file would pass its size, its oldest
// half goes first, and the newest lines are kept behind one line of every
// value as it stood before them. Never blocks and never fails: a missing or
// full directory, or something at the path that is not a regular file, costs
// the lines until it is mended (said once on standard error). A file that was
// removed or replaced is opened anew.
void log_append(LogFile *log, const char *text, size_t n);
void log_close(LogFile *log);

// The time of a log line ("t=2026-12-06T04:45:06.123Z ..."), in ms.
bool line_time(const char *line, size_t n, int64_t *ms);
// A time as given on the command line: the log's form, also without the
// milliseconds ("2026-12-06T04:45:06Z").
bool parse_when(const char *text, int64_t *ms);

// Whole lines of a file, from an offset on, without the heap.
struct LineReader {
    int fd = -1;
    int64_t at = 0;  // file offset of buf[pos]
    size_t pos = 0;
    size_t len = 0;
    bool skipping = false;  // inside a line longer than the buffer: dropped
    char buf[2048];
};

void reader_init(LineReader *r, int fd, int64_t at);
// The next line ended by a newline (LINE, N bytes, without it); false at the
// end of the file (a line not ended yet stays for a later call).
bool reader_next(LineReader *r, const char **line, size_t *n);

}  // namespace powerbankctl
