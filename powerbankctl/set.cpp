// set [--apply] NAME=VALUE...
#include "set.h"

#include <devmgr.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "json.h"

namespace powerbankctl {

namespace {

// Appends a line to REQ->why (for JSON: "; " between them, no newline).
void say(SetRequest *req, const char *fmt, const char *a, const char *b = "", const char *c = "") {
    size_t used = strlen(req->why);
    used += static_cast<size_t>(snprintf(req->why + used, sizeof req->why - used, "%s",
                                         !req->json ? "powerbankctl: "
                                         : used > 0 ? "; "
                                                    : ""));
    if (used < sizeof req->why) {
        used +=
            static_cast<size_t>(snprintf(req->why + used, sizeof req->why - used, fmt, a, b, c));
    }
    if (req->json && used < sizeof req->why) {
        req->why[used - 1] = '\0';
    }
}

// COMMAND through /bin/sh, its standard output sent to standard error (its
// chatter must not mix into what this program prints, JSON say).
bool restart_daemon(SetRequest *req, const char *command) {
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        execl("/bin/sh", "sh", "-c", command, static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = -1;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (status != 0) {
        say(req, "the restart command \"%s\" failed%s%s\n", command,
            pid < 0 ? ": " : " (its status is not 0)", pid < 0 ? strerror(errno) : "");
    }
    return status == 0;
}

}  // namespace

void set_check(SetRequest *req, const char *name, size_t len, const char *text) {
    const Setting *s = setting_named(name, len);
    char shown[48];
    snprintf(shown, sizeof shown, "%.*s", static_cast<int>(len < 40 ? len : 40), name);
    SetItem &item = req->items[req->count < SetRequest::kMax ? req->count : 0];
    const char *accepted = nullptr;
    if (s == nullptr) {
        say(req, "%s is no setting: %s\n", shown, kSettingNames);
    } else if (req->count == SetRequest::kMax) {
        say(req, "%s: too many settings at once\n", shown);
    } else if (!setting_parse(*s, text, item.stored, sizeof item.stored, &accepted)) {
        say(req, "%s=%s refused: accepted %s, or default\n", s->name, text, accepted);
    } else {
        item.setting = s;
        ++req->count;
    }
}

namespace {

int commit(const Paths &paths, SetRequest *req, bool apply) {
    if (req->why[0] != '\0' || req->count == 0) {
        say(req, "%s", req->why[0] == '\0' ? "no setting given\n" : "nothing written\n");
        return kUsage;
    }
    for (int i = 0; i < req->count; ++i) {
        const SetItem &item = req->items[i];
        const int r = item.stored[0] != '\0' ? devmgr_cfg_set(item.setting->key, item.stored)
                                             : devmgr_cfg_unset(item.setting->key);
        if (r != DEVMGR_OK && r != DEVMGR_ABSENT) {
            say(req, "cannot write %s in %s: %s\n", item.setting->key, devmgr_config_dir(),
                r == DEVMGR_ERROR ? strerror(errno) : devmgr_strerror(r));
            return kFailed;
        }
    }
    return !apply || restart_daemon(req, paths.restart) ? kOk : kFailed;
}

void note(const SetRequest &req, bool applied, char *out, size_t size) {
    Reading delay;
    setting_read(kSettings[3], &delay);
    char words[32];
    setting_words(kSettings[3], delay.value, words, sizeof words);
    bool at_start = false;
    for (int i = 0; i < req.count; ++i) {
        at_start = at_start || req.items[i].setting->at_start;
    }
    if (applied) {
        snprintf(out, size,
                 "restarted: ports re-detected (3 s, outputs held), then PoE 1, PoE 2, UPS "
                 "switched %s apart",
                 words);
    } else {
        snprintf(out, size, "taken at the %s; applying restarts the daemon now",
                 at_start ? "next start" : "next DC or bank change");
    }
}

}  // namespace

int set_run(const Paths &paths, SetRequest *req, bool apply, bool json) {
    const int status = commit(paths, req, apply);
    char text[320];
    note(*req, apply, text, sizeof text);
    if (json && status != kOk) {
        json_error(req->why);
    } else if (status != kOk) {
        fputs(req->why, stderr);
    } else if (json) {
        fputs("{\"written\": [", stdout);
        for (int i = 0; i < req->count; ++i) {
            printf("%s\"%s\"", i > 0 ? ", " : "", req->items[i].setting->name);
        }
        printf("], \"applied\": %s, \"note\": ", apply ? "true" : "false");
        json_string(stdout, text);
        fputs("}\n", stdout);
    } else {
        printf("written; %s\n", text);
    }
    return status;
}

int cmd_set(const Paths &paths, int argc, char **argv) {
    static SetRequest req;
    bool apply = false;
    for (int i = 0; i < argc; ++i) {
        const char *eq = strchr(argv[i], '=');
        if (strcmp(argv[i], "--apply") == 0) {
            apply = true;
        } else if (eq == nullptr || eq == argv[i]) {
            return usage();
        } else {
            set_check(&req, argv[i], static_cast<size_t>(eq - argv[i]), eq + 1);
        }
    }
    return set_run(paths, &req, apply, false);
}

}  // namespace powerbankctl
