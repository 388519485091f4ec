// The boardsim tool: verbs over a board directory.
#pragma once

namespace boardsim_tool {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;  // a system error, or `get` of an unset value
constexpr int kUsage = 2;

// The whole help, on standard output (--help).
void help();
// WHY (when not null) and one line of usage, on standard error; kUsage.
int usage(const char *why);
// "boardsim: " and the message, then the usage line of FORM (what follows
// DIR), on standard error; kUsage.
int usage_of(const char *form, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// VALID: a list ending in null.
bool is_one_of(const char *word, const char *const *valid);
// "unknown WHAT 'WORD' (the nearest is '...')" and FORM's usage; kUsage.
int bad_word(const char *what, const char *word, const char *const *valid, const char *form);

int cmd_init(const char *dir);
int cmd_run(int argc, char **argv);  // argv[0] = DIR, then [--speed N] -- CMD...
// An input verb (dc, bank, cc, adc, oc, i2c, fault): argv[0] is the verb.
int cmd_input(const char *dir, int argc, char **argv);
int cmd_show(const char *dir);
// watch [--lines] [--all] [--once]: argv holds the options only.
int cmd_watch(const char *dir, int argc, char **argv);
// timeline [-o FILE] [--from T] [--to T]: argv holds the options only.
int cmd_timeline(const char *dir, int argc, char **argv);
int cmd_get(const char *dir, const char *name);

// Journals "proc NAME start" for this process, about to exec PROGRAM, and
// leaves a watcher that journals "proc NAME end" once the process is gone.
void watch_program(const char *dir, const char *program);

// True when DIR looks like a board (has a clock).
bool is_board(const char *dir);
// Appends an "input VERB set LEN \"ARGS\"" line to the board's journal.
void journal_input(const char *dir, const char *verb, int argc, char **argv);

}  // namespace boardsim_tool
