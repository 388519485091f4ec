// rpcd list | rpcd call METHOD: rpcd's exec-plugin protocol, behind
// /usr/libexec/rpcd/powerbank. `list` tells the methods and their arguments
// (by example values, whose JSON types rpcd takes as the argument types);
// `call` reads the arguments as JSON on standard input and answers with one
// JSON object on standard output. A refusal is an object with "error".
#include <errno.h>
#include <fcntl.h>
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
constexpr int kLinesMax = 1000;
constexpr int kMembersMax = 32;

void error_object(const char *why) {
    Json j{stdout};
    json_begin(&j, nullptr);
    json_str(&j, "error", why);
    json_end(&j);
}

void list() {
    Json j{stdout};
    json_begin(&j, nullptr);
    json_begin(&j, "status");
    json_end(&j);
    json_begin(&j, "set");
    for (const Setting &s : kSettings) {
        char example[16];
        snprintf(example, sizeof example, "%d", s.fallback);
        if (s.kind == Kind::kMode || s.kind == Kind::kDebug || s.kind == Kind::kDelay) {
            json_str(&j, s.name,
                     s.kind == Kind::kMode    ? "auto"
                     : s.kind == Kind::kDebug ? "off"
                                              : "1");
        } else {
            json_raw(&j, s.name, example);
        }
    }
    json_bool(&j, "apply", false);
    json_end(&j);
    json_begin(&j, "log");
    json_int(&j, "lines", kLinesDefault);
    json_end(&j);
    json_end(&j);
}

// Appends REASON to the refusals in WHY.
void refuse(char *why, size_t size, const char *reason) {
    size_t used = strlen(why);
    if (used > 0 && used + 2 < size) {
        memcpy(why + used, "; ", 2);
        used += 2;
    }
    const size_t n = strnlen(reason, size - 1 - used);
    memcpy(why + used, reason, n);
    why[used + n] = '\0';
}

void call_set(const Paths &paths, const JsonMember *members, int count) {
    static SetRequest req;
    bool apply = false;
    char why[1024] = "";
    for (int i = 0; i < count; ++i) {
        const JsonMember &m = members[i];
        const bool boolean = m.type == JsonMember::kTrue || m.type == JsonMember::kFalse;
        if (strcmp(m.name, "apply") == 0 && boolean) {
            apply = m.type == JsonMember::kTrue;
            continue;
        }
        // A boolean stands for on or off; strings and numbers as written.
        const char *text = !boolean ? m.value : m.type == JsonMember::kTrue ? "on" : "off";
        char reason[512];
        if (m.type == JsonMember::kNull) {
            snprintf(reason, sizeof reason, "%.39s: null is no value", m.name);
            refuse(why, sizeof why, reason);
        } else if (!set_check(&req, m.name, strlen(m.name), text, reason, sizeof reason)) {
            refuse(why, sizeof why, reason);
        }
    }
    if (why[0] != '\0' || req.count == 0) {
        error_object(why[0] != '\0' ? why : "no setting given");
        return;
    }
    if (!set_write(req, why, sizeof why) ||
        (apply && !restart_daemon(paths.restart, why, sizeof why))) {
        error_object(why);
        return;
    }
    char note[320];
    if (apply) {
        restart_cost(note, sizeof note);
    } else {
        snprintf(note, sizeof note,
                 "modes and delay are read at the next policy pass, the rest at the daemon's "
                 "next start; \"apply\": true restarts it now");
    }
    Json j{stdout};
    json_begin(&j, nullptr);
    json_begin(&j, "written", '[');
    for (int i = 0; i < req.count; ++i) {
        json_str(&j, nullptr, req.items[i].setting->name);
    }
    json_end(&j, ']');
    json_bool(&j, "applied", apply);
    json_str(&j, "note", note);
    json_end(&j);
}

// The last LINES lines of the log.
void call_log(const Paths &paths, const JsonMember *members, int count) {
    int lines = kLinesDefault;
    for (int i = 0; i < count; ++i) {
        if (strcmp(members[i].name, "lines") == 0) {
            lines = members[i].type == JsonMember::kNumber ? atoi(members[i].value) : -1;
        }
    }
    char why[512];
    if (lines < 1 || lines > kLinesMax) {
        snprintf(why, sizeof why, "lines: accepted 1 to %d", kLinesMax);
        error_object(why);
        return;
    }
    const int fd = open(paths.log, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        snprintf(why, sizeof why, "cannot read the log %s: %s", paths.log, strerror(errno));
        error_object(why);
        return;
    }
    static LineReader r;
    const char *line = nullptr;
    size_t n = 0;
    int total = 0;
    for (reader_init(&r, fd, 0); reader_next(&r, &line, &n);) {
        ++total;
    }
    Json j{stdout};
    json_begin(&j, nullptr);
    json_begin(&j, "lines", '[');
    reader_init(&r, fd, 0);
    for (int i = 0; i < total && reader_next(&r, &line, &n); ++i) {
        if (i >= total - lines) {
            char text[sizeof r.buf + 1];
            memcpy(text, line, n);
            text[n] = '\0';
            json_str(&j, nullptr, text);
        }
    }
    json_end(&j, ']');
    json_end(&j);
    close(fd);
}

}  // namespace

int cmd_rpcd(const Paths &paths, int argc, char **argv) {
    if (argc == 1 && strcmp(argv[0], "list") == 0) {
        list();
        return kOk;
    }
    if (argc != 2 || strcmp(argv[0], "call") != 0) {
        return usage("rpcd");
    }
    static char input[4096];
    size_t have = 0;
    while (have + 1 < sizeof input) {
        const ssize_t got = read(STDIN_FILENO, input + have, sizeof input - 1 - have);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        have += static_cast<size_t>(got);
    }
    input[have] = '\0';
    static JsonMember members[kMembersMax];
    int count = 0;
    const char *why = nullptr;
    // rpcd hands no input to a method without arguments.
    const bool empty = input[strspn(input, " \t\r\n")] == '\0';
    if (!empty && !json_read_object(input, members, kMembersMax, &count, &why)) {
        char text[128];
        snprintf(text, sizeof text, "the arguments are no JSON object of plain values: %s", why);
        error_object(text);
        return kOk;
    }
    const char *method = argv[1];
    if (strcmp(method, "status") == 0) {
        static Status s;
        status_gather(paths, &s);
        status_json(s, stdout);
        (void)status_complain(s, paths);
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
