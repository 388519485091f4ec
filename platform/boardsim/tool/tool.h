// The boardsim tool: verbs over a board directory.
#pragma once

namespace boardsim_tool {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;  // a system error, or `get` of an unset value
constexpr int kUsage = 2;

// Prints the usage text to standard error and returns kUsage.
int usage(const char *why);

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

// True when DIR looks like a board (has a clock).
bool is_board(const char *dir);
// Appends an "input VERB set LEN \"ARGS\"" line to the board's journal.
void journal_input(const char *dir, const char *verb, int argc, char **argv);

}  // namespace boardsim_tool
