// rpcd list | rpcd call METHOD: rpcd's exec-plugin protocol, behind
// /usr/libexec/rpcd/powerbank. `list` tells the methods and their arguments
// (by example values, whose JSON types rpcd takes as the argument types);
// `call` reads the arguments as JSON on standard input and answers with one
// JSON object on standard output. A refusal is an object with "error".
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ctl.h"
#include "json.h"
#include "json_in.h"
#include "logfile.h"
#include "set.h"
#include "status.h"

namespace powerbankctl {

namespace {

constexpr int kLinesDefault = 20;
constexpr int kLinesMax = 1000;  // (said in call_log's refusal)
constexpr int kMembersMax = 32;

// Each argument with an example value: rpcd takes its JSON type as the
// argument's type.
void list() {
    fputs("{\"status\": {}, \"set\": {", stdout);
    for (const Setting &s : kSettings) {
        const bool word = s.kind == Kind::kMode || s.kind == Kind::kDebug || s.kind == Kind::kDelay;
        if (word) {
            printf("\"%s\": \"%s\", ", s.name,
                   s.kind == Kind::kMode    ? "auto"
                   : s.kind == Kind::kDebug ? "off"
                                            : "1");
        } else {
            printf("\"%s\": %d, ", s.name, s.fallback);
        }
    }
    printf("\"apply\": false}, \"log\": {\"lines\": %d}}\n", kLinesDefault);
}

void call_set(const Paths &paths, const JsonMember *members, int count) {
    static SetRequest req;
    req.json = true;
    bool apply = false;
    for (int i = 0; i < count; ++i) {
        const JsonMember &m = members[i];
        const bool yes = !m.quoted && strcmp(m.value, "true") == 0;
        const bool boolean = yes || (!m.quoted && strcmp(m.value, "false") == 0);
        if (boolean && strcmp(m.name, "apply") == 0) {
            apply = yes;
        } else {
            // A boolean stands for on or off; strings and numbers as written.
            set_check(&req, m.name, strlen(m.name), !boolean ? m.value : yes ? "on" : "off");
        }
    }
    (void)set_run(paths, &req, apply, true);
}

// The last LINES lines of the log.
void call_log(const Paths &paths, const JsonMember *members, int count) {
    int lines = kLinesDefault;
    for (int i = 0; i < count; ++i) {
        if (strcmp(members[i].name, "lines") == 0) {
            lines = members[i].quoted ? -1 : atoi(members[i].value);
        }
    }
    if (lines < 1 || lines > kLinesMax) {
        json_error("lines: accepted 1 to 1000");
        return;
    }
    const int fd = open_log(paths.log);
    if (fd < 0) {
        json_error("cannot read the log");
        return;
    }
    // Counted first, then the last LINES of them told.
    static LineReader r;
    const char *line = nullptr;
    size_t n = 0;
    int total = 0;
    for (reader_init(&r, fd, 0); reader_next(&r, &line, &n);) {
        ++total;
    }
    fputs("{\"lines\": [", stdout);
    reader_init(&r, fd, 0);
    for (int i = 0; reader_next(&r, &line, &n); ++i) {
        if (i >= total - lines) {
            char text[sizeof r.buf + 1];
            snprintf(text, sizeof text, "%.*s", static_cast<int>(n), line);
            fputs(i > total - lines && i > 0 ? ",\n  " : "\n  ", stdout);
            json_string(stdout, text);
        }
    }
    fputs("\n]}\n", stdout);
    close(fd);
}

}  // namespace

int cmd_rpcd(const Paths &paths, int argc, char **argv) {
    if (argc == 1 && strcmp(argv[0], "list") == 0) {
        list();
        return kOk;
    }
    if (argc != 2 || strcmp(argv[0], "call") != 0) {
        return usage();
    }
    static char input[4096];
    input[fread(input, 1, sizeof input - 1, stdin)] = '\0';
    static JsonMember members[kMembersMax];
    int count = 0;
    // rpcd hands no input to a method without arguments.
    const bool empty = input[strspn(input, " \t\r\n")] == '\0';
    if (!empty && !json_read_object(input, members, kMembersMax, &count)) {
        json_error("the arguments are no flat JSON object of plain values");
        return kOk;
    }
    const char *method = argv[1];
    if (strcmp(method, "status") == 0) {
        (void)show_status(paths, true);
    } else if (strcmp(method, "set") == 0) {
        call_set(paths, members, count);
    } else if (strcmp(method, "log") == 0) {
        call_log(paths, members, count);
    } else {
        fprintf(stderr, "powerbankctl: no method %s\n", method);
        return kUsage;
    }
    return fflush(stdout) == 0 ? kOk : kFailed;
}

}  // namespace powerbankctl
