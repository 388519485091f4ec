// What the tool says when it is used wrongly: the bad word, the nearest
// valid one, one line of usage and where the rest is; the whole help only
// when asked for.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "input_args.h"
#include "tool.h"

namespace boardsim_tool {

namespace {

const char kHelp[] =
    "usage: boardsim init DIR\n"
    "       boardsim run DIR [--speed N] -- CMD [ARGS...]\n"
    "       boardsim DIR dc 0|1\n"
    "       boardsim DIR bank PORT VOLTS AMPS [N] [--cc-unchanged]\n"
    "       boardsim DIR bank PORT none [--cc-unchanged]\n"
    "       boardsim DIR cc PORT V1 V2\n"
    "       boardsim DIR adc CHANNEL COUNT\n"
    "       boardsim DIR oc BITS\n"
    "       boardsim DIR config KEY VALUE\n"
    "       boardsim DIR i2c ADDR none | i2c ADDR REG BYTE...\n"
    "       boardsim DIR fault missing|eio-read|eio-write TARGET | fault silent ADDR\n"
    "       boardsim DIR fault clear [KIND TARGET]\n"
    "       boardsim DIR get NAME\n"
    "       boardsim DIR show\n"
    "       boardsim DIR watch [--lines] [--all] [--once] [--note TEXT]\n"
    "       boardsim DIR timeline [-o FILE.svg] [--from SECONDS] [--to SECONDS]\n"
    "The verbs after DIR may also come first: boardsim show DIR.\n"
    "\n"
    "bank plugs a power bank in as a real one is: it offers VOLTS/AMPS as\n"
    "capability N (default 1) and raises both CC lines of the port to 2.5 V,\n"
    "which the daemon reads as high, so with DC present its CC watch notices;\n"
    "bank PORT none takes it out and lowers them to 0 V. --cc-unchanged\n"
    "leaves the CC lines alone: a bank only a periodic re-detection finds.\n"
    "config sets a store key, noted in the journal as the other inputs are.\n"
    "show prints the board at a glance; watch follows it: a panel on a\n"
    "terminal, else (or with --lines) one logfmt line per change. timeline\n"
    "draws the run as an SVG picture. Times are virtual seconds.\n";

}  // namespace

void help() {
    fputs(kHelp, stdout);
}

int usage(const char *why) {
    if (why != nullptr) {
        fprintf(stderr, "boardsim: %s\n", why);
    }
    fputs(
        "usage: boardsim init DIR | run DIR -- CMD | DIR VERB [ARGS]  (boardsim --help for "
        "every verb)\n",
        stderr);
    return kUsage;
}

int usage_of(const char *form, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    fputs("boardsim: ", stderr);
    vfprintf(stderr, fmt, ap);
    fputc('\n', stderr);
    va_end(ap);
    fprintf(stderr, "usage: boardsim DIR %s  (boardsim --help for every verb)\n", form);
    return kUsage;
}

bool is_one_of(const char *word, const char *const *valid) {
    for (int i = 0; valid[i] != nullptr; ++i) {
        if (strcmp(word, valid[i]) == 0) {
            return true;
        }
    }
    return false;
}

int bad_word(const char *what, const char *word, const char *const *valid, const char *form) {
    return usage_of(form, "unknown %s '%s' (the nearest is '%s')", what, word,
                    nearest_word(word, valid));
}

}  // namespace boardsim_tool
