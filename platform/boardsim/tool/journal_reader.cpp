// The journal's line format, read back (see the board's README).
#include "journal_reader.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace boardsim_tool {

namespace {

// Copies the next blank-separated word of [*P, END) into OUT (cut to fit).
bool word(const char **p, const char *end, char *out, size_t size) {
    while (*p < end && **p == ' ') {
        ++*p;
    }
    const char *start = *p;
    while (*p < end && **p != ' ') {
        ++*p;
    }
    size_t n = static_cast<size_t>(*p - start);
    if (n == 0) {
        return false;
    }
    n = n < size ? n : size - 1;
    memcpy(out, start, n);
    out[n] = '\0';
    return true;
}

int hex_digit(char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Unescapes the quoted bytes starting after the opening quote; *P ends past
// the closing quote.
void unquote(const char **p, const char *end, JournalEntry *out) {
    const char *s = *p;
    while (s < end && *s != '"') {
        char c = *s++;
        if (c == '\\' && s < end) {
            char e = *s++;
            switch (e) {
                case 'n':
                    c = '\n';
                    break;
                case 'r':
                    c = '\r';
                    break;
                case 't':
                    c = '\t';
                    break;
                case '0':
                    c = '\0';
                    break;
                case 'x':
                    if (end - s >= 2 && hex_digit(s[0]) >= 0 && hex_digit(s[1]) >= 0) {
                        c = static_cast<char>(hex_digit(s[0]) * 16 + hex_digit(s[1]));
                        s += 2;
                    }
                    break;
                default:
                    c = e;
                    break;  // \" and \\.
            }
        }
        if (out->data_len + 1 < sizeof out->data) {
            out->data[out->data_len++] = c;
        }
    }
    out->data[out->data_len] = '\0';
    *p = s < end ? s + 1 : s;
}

}  // namespace

bool parse_journal_line(const char *line, size_t len, JournalEntry *out) {
    const char *p = line;
    const char *end = line + len;
    char stamp[24];
    *out = JournalEntry{};
    if (!word(&p, end, stamp, sizeof stamp) || !word(&p, end, out->kind, sizeof out->kind)) {
        return false;
    }
    char *stamp_end = nullptr;
    out->ms = strtoll(stamp, &stamp_end, 10);
    if (*stamp_end != '\0' || strcmp(out->kind, "i2c") == 0) {
        return *stamp_end == '\0';
    }
    char count[24];
    if (!word(&p, end, out->name, sizeof out->name) || !word(&p, end, out->op, sizeof out->op) ||
        !word(&p, end, count, sizeof count)) {
        return true;
    }
    out->len = strtoul(count, nullptr, 10);
    while (p < end && *p == ' ') {
        ++p;
    }
    if (p < end && *p == '"') {
        ++p;
        unquote(&p, end, out);
    }
    char tag[64];
    while (word(&p, end, tag, sizeof tag)) {
        if (strncmp(tag, "err=", 4) == 0) {
            snprintf(out->err, sizeof out->err, "%.*s", static_cast<int>(sizeof out->err - 1),
                     tag + 4);
        }
    }
    return true;
}

bool follower_init(JournalFollower *f, const char *dir) {
    *f = JournalFollower{};
    return boardsim::path_join(f->path, sizeof f->path, dir, "journal");
}

FollowResult follower_read(JournalFollower *f, EntryFn fn, void *ctx) {
    int fd = open(f->path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return FollowResult::kOk;  // not there yet
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_size < f->offset) {
        close(fd);
        f->offset = 0;
        f->partial_len = 0;
        return FollowResult::kRestarted;
    }
    static char chunk[65536];
    JournalEntry entry;
    for (;;) {
        ssize_t n = pread(fd, chunk, sizeof chunk, f->offset);
        if (n <= 0) {
            break;
        }
        f->offset += n;
        for (ssize_t i = 0; i < n; ++i) {
            char c = chunk[i];
            if (c != '\n') {
                // A line longer than the buffer is cut; the journal's are shorter.
                if (f->partial_len < sizeof f->partial) {
                    f->partial[f->partial_len++] = c;
                }
                continue;
            }
            if (parse_journal_line(f->partial, f->partial_len, &entry)) {
                fn(ctx, entry);
            }
            f->partial_len = 0;
        }
    }
    close(fd);
    return FollowResult::kOk;
}

}  // namespace boardsim_tool
