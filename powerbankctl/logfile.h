// The change log's file: lines appended, bounded in size, and read back.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace powerbankctl {

// (Plain members, set up by log_init: a static one needs no start-up code.)
struct LogFile {
    const char *path;
    int64_t max;
    int fd;
    bool complained;  // said why it cannot be written, until it can again
};

// Sets LOG up for PATH, at most MAX bytes (at least 4096).
void log_init(LogFile *log, const char *path, int64_t max);
// Appends TEXT (whole lines). When the file would pass its size, its oldest
// half goes first: true then (the caller adds a line of every value, so that
// the log tells the whole state from there on). Never blocks and never fails:
// a missing or full directory, or something at the path that is not a regular
// file, costs the lines until it is mended (said once on standard error). A
// file that was removed or replaced is opened anew.
bool log_append(LogFile *log, const char *text, size_t n);
void log_close(LogFile *log);

// Opens the log PATH for reading; -1 after saying why on standard error.
int open_log(const char *path);
// The time of a log line ("t=2026-12-06T04:45:06.123Z ..."), in ms.
bool line_time(const char *line, size_t n, int64_t *ms);
// A time as given on the command line: the log's form.
bool parse_when(const char *text, int64_t *ms);

// Whole lines of a file, from an offset on, without the heap (plain
// members, set up by reader_init).
struct LineReader {
    int fd;
    int64_t at;  // file offset of buf[pos]
    size_t pos;
    size_t len;
    bool skipping;  // inside a line longer than the buffer: dropped
    char buf[2048];
};

void reader_init(LineReader *r, int fd, int64_t at);
// The next line ended by a newline (LINE, N bytes, without it); false at the
// end of the file (a line not ended yet stays for a later call).
bool reader_next(LineReader *r, const char **line, size_t *n);

}  // namespace powerbankctl
