// boardsim: create a simulated board, change its inputs, show its outputs and
// run programs on it. See README.md next to this tool.
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "tool.h"

using namespace boardsim_tool;

namespace {

// The verbs that follow a board directory (or come before it).
const char *const kVerbs[] = {"dc",    "bank", "cc",   "adc",   "oc",       "config", "i2c",
                              "fault", "get",  "show", "watch", "timeline", nullptr};

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        return usage(nullptr);
    }
    const char *first = argv[1];
    if (strcmp(first, "-h") == 0 || strcmp(first, "--help") == 0 || strcmp(first, "help") == 0) {
        help();
        return kOk;
    }
    if (strcmp(first, "init") == 0) {
        return argc == 3 ? cmd_init(argv[2]) : usage_of("init", "init takes one directory");
    }
    if (strcmp(first, "run") == 0) {
        return argc >= 3 ? cmd_run(argc - 2, argv + 2) : usage("run needs a directory");
    }
    // boardsim DIR VERB ..., or boardsim VERB DIR ...
    const char *dir = first;
    if (argc >= 3 && !is_board(first) && is_one_of(first, kVerbs) && is_board(argv[2])) {
        dir = argv[2];
        argv[2] = argv[1];
    } else if (!is_board(dir)) {
        // A word that names no directory is a verb mistyped.
        struct stat st;
        if ((argc >= 3 && is_board(argv[2])) || stat(first, &st) != 0) {
            return bad_word("verb", first, kVerbs, "VERB [ARGS]");
        }
        fprintf(stderr, "boardsim: %s is not a board (boardsim init %s makes one)\n", dir, dir);
        return usage(nullptr);
    }
    if (argc < 3) {
        return usage_of("VERB [ARGS]", "a verb must follow %s", dir);
    }
    const char *verb = argv[2];
    if (strcmp(verb, "init") == 0 || strcmp(verb, "run") == 0) {
        fprintf(stderr, "boardsim: %s comes before the directory: boardsim %s %s ...\n", verb, verb,
                dir);
        return usage(nullptr);
    }
    if (!is_one_of(verb, kVerbs)) {
        return bad_word("verb", verb, kVerbs, "VERB [ARGS]");
    }
    if (strcmp(verb, "show") == 0) {
        return argc == 3 ? cmd_show(dir) : usage_of("show", "show takes no arguments");
    }
    if (strcmp(verb, "watch") == 0) {
        return cmd_watch(dir, argc - 3, argv + 3);
    }
    if (strcmp(verb, "timeline") == 0) {
        return cmd_timeline(dir, argc - 3, argv + 3);
    }
    if (strcmp(verb, "get") == 0) {
        return argc == 4 ? cmd_get(dir, argv[3]) : usage_of("get NAME", "get takes one name");
    }
    return cmd_input(dir, argc - 2, argv + 2);
}
