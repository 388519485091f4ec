// boardsim: create a simulated board, change its inputs, show its outputs and
// run programs on it. See README.md next to this tool.
#include <stdio.h>
#include <string.h>

#include "tool.h"

namespace boardsim_tool {

int usage(const char *why) {
    if (why != nullptr) {
        fprintf(stderr, "boardsim: %s\n", why);
    }
    fputs(
        "usage: boardsim init DIR\n"
        "       boardsim run DIR [--speed N] -- CMD [ARGS...]\n"
        "       boardsim DIR dc 0|1\n"
        "       boardsim DIR bank PORT VOLTS AMPS [N] [--cc-unchanged]\n"
        "       boardsim DIR bank PORT none [--cc-unchanged]\n"
        "       boardsim DIR cc PORT V1 V2\n"
        "       boardsim DIR adc CHANNEL COUNT\n"
        "       boardsim DIR oc BITS\n"
        "       boardsim DIR i2c ADDR none | i2c ADDR REG BYTE...\n"
        "       boardsim DIR fault missing|eio-read|eio-write TARGET | fault silent ADDR\n"
        "       boardsim DIR fault clear [KIND TARGET]\n"
        "       boardsim DIR get NAME\n"
        "       boardsim DIR show\n"
        "       boardsim DIR watch [--lines] [--all] [--once]\n"
        "       boardsim DIR timeline [-o FILE.svg] [--from SECONDS] [--to SECONDS]\n"
        "\n"
        "bank plugs a power bank in as a real one is: it offers VOLTS/AMPS as\n"
        "capability N (default 1) and raises both CC lines of the port to 2.5 V,\n"
        "which the daemon reads as high, so with DC present its CC watch notices;\n"
        "bank PORT none takes it out and lowers them to 0 V. --cc-unchanged\n"
        "leaves the CC lines alone: a bank only a periodic re-detection finds.\n"
        "show prints the board at a glance; watch follows it: a panel on a\n"
        "terminal, else (or with --lines) one logfmt line per change. timeline\n"
        "draws the run as an SVG picture. Times are virtual seconds.\n",
        stderr);
    return kUsage;
}

}  // namespace boardsim_tool

using namespace boardsim_tool;

int main(int argc, char **argv) {
    if (argc < 2) {
        return usage(nullptr);
    }
    const char *first = argv[1];
    if (strcmp(first, "-h") == 0 || strcmp(first, "--help") == 0 || strcmp(first, "help") == 0) {
        usage(nullptr);
        return kOk;
    }
    if (strcmp(first, "init") == 0) {
        return argc == 3 ? cmd_init(argv[2]) : usage("init takes one directory");
    }
    if (strcmp(first, "run") == 0) {
        return argc >= 3 ? cmd_run(argc - 2, argv + 2) : usage("run needs a directory");
    }
    // boardsim DIR VERB ...
    if (argc < 3) {
        return usage("missing verb");
    }
    const char *dir = first;
    const char *verb = argv[2];
    if (!is_board(dir)) {
        fprintf(stderr, "boardsim: %s is not a board (run boardsim init first)\n", dir);
        return kUsage;
    }
    if (strcmp(verb, "show") == 0) {
        return argc == 3 ? cmd_show(dir) : usage("show takes no arguments");
    }
    if (strcmp(verb, "watch") == 0) {
        return cmd_watch(dir, argc - 3, argv + 3);
    }
    if (strcmp(verb, "timeline") == 0) {
        return cmd_timeline(dir, argc - 3, argv + 3);
    }
    if (strcmp(verb, "get") == 0) {
        return argc == 4 ? cmd_get(dir, argv[3]) : usage("get takes one name");
    }
    return cmd_input(dir, argc - 2, argv + 2);
}
