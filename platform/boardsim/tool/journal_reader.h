// Reading a board's journal: one line into its fields, and a file followed as
// it grows.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "board_files.h"

namespace boardsim_tool {

// One journal line. Data lines ("VMS KIND NAME OP LEN \"BYTES\" [TAGS]") fill
// every field; other lines (i2c) only MS and KIND.
struct JournalEntry {
    int64_t ms = 0;
    char kind[16] = {};
    char name[72] = {};
    char op[16] = {};
    size_t len = 0;        // the length the line gives (the call's byte count)
    char data[1024] = {};  // the bytes unescaped (at most sizeof - 1 of them), NUL-terminated
    size_t data_len = 0;   // how many of them DATA holds
    char err[24] = {};     // the err= tag, "" when the call succeeded
};

// Parses LINE (LEN bytes, no newline). False when it has no stamp and kind.
bool parse_journal_line(const char *line, size_t len, JournalEntry *out);

// A journal file read as it grows.
struct JournalFollower {
    char path[boardsim::kPathMax] = {};
    off_t offset = 0;
    char partial[8192] = {};  // the start of a line not yet ended
    size_t partial_len = 0;
};

using EntryFn = void (*)(void *ctx, const JournalEntry &entry);

enum class FollowResult { kOk, kRestarted };

bool follower_init(JournalFollower *f, const char *dir);
// Hands every whole line appended since the last call to FN. kRestarted when
// the journal became shorter (the board was made anew): the caller forgets
// what it had, and the next call reads from the start.
FollowResult follower_read(JournalFollower *f, EntryFn fn, void *ctx);

}  // namespace boardsim_tool
