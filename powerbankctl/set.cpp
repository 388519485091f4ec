// set [--apply] [--restart CMD] NAME=VALUE...
#include "set.h"

#include <devmgr.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "ctl.h"

namespace powerbankctl {

bool set_check(SetRequest *req, const char *name, size_t len, const char *text, char *why,
               size_t why_size) {
    const Setting *s = setting_named(name, len);
    if (s == nullptr) {
        int n = snprintf(why, why_size, "\"%.*s\" is no setting; the settings are",
                         static_cast<int>(len), name);
        for (int i = 0; i < kSettingCount && n > 0 && static_cast<size_t>(n) < why_size; ++i) {
            n += snprintf(why + n, why_size - static_cast<size_t>(n), " %s", kSettings[i].name);
        }
        return false;
    }
    if (req->count == SetRequest::kMax) {
        snprintf(why, why_size, "at most %d settings at once", SetRequest::kMax);
        return false;
    }
    SetItem &item = req->items[req->count];
    char accepted[160];
    if (!setting_parse(*s, text, item.stored, sizeof item.stored, accepted, sizeof accepted)) {
        snprintf(why, why_size, "%s=%s refused: accepted %s, or default", s->name, text, accepted);
        return false;
    }
    item.setting = s;
    ++req->count;
    return true;
}

bool set_write(const SetRequest &req, char *why, size_t why_size) {
    for (int i = 0; i < req.count; ++i) {
        const SetItem &item = req.items[i];
        const int r = item.stored[0] != '\0' ? devmgr_cfg_set(item.setting->key, item.stored)
                                             : devmgr_cfg_unset(item.setting->key);
        if (r != DEVMGR_OK && r != DEVMGR_ABSENT) {
            snprintf(why, why_size, "cannot write %s in %s: %s", item.setting->key,
                     devmgr_config_dir(), r == DEVMGR_ERROR ? strerror(errno) : devmgr_strerror(r));
            return false;
        }
    }
    return true;
}

const char *set_takes_effect(const SetItem &item) {
    return item.setting->at_start ? "read at the daemon's next start"
                                  : "read at the next policy pass (the next DC or bank change)";
}

void restart_cost(char *out, size_t size) {
    Reading delay;
    setting_read(kSettings[3], &delay);
    char words[32];
    setting_words(kSettings[3], delay.value, words, sizeof words);
    snprintf(out, size,
             "the daemon starts again: it re-detects both ports (about 3 s, the outputs keep "
             "their state meanwhile), then switches PoE 1, PoE 2 and the UPS output %s apart; "
             "with DC present it does so once more a few seconds later",
             words);
}

int cmd_set(const Paths &paths, int argc, char **argv) {
    bool apply = false;
    const char *restart = paths.restart;
    static SetRequest req;
    bool refused = false;
    for (int i = 0; i < argc; ++i) {
        const char *eq = strchr(argv[i], '=');
        char why[512];
        if (strcmp(argv[i], "--apply") == 0) {
            apply = true;
        } else if (strcmp(argv[i], "--restart") == 0 && i + 1 < argc) {
            restart = argv[++i];
        } else if (eq == nullptr || eq == argv[i]) {
            return usage("set");
        } else if (!set_check(&req, argv[i], static_cast<size_t>(eq - argv[i]), eq + 1, why,
                              sizeof why)) {
            fprintf(stderr, "powerbankctl: %s\n", why);
            refused = true;
        }
    }
    if (refused) {
        fprintf(stderr, "powerbankctl: nothing written\n");
        return kUsage;
    }
    if (req.count == 0) {
        return usage("set");
    }
    char why[512];
    if (!set_write(req, why, sizeof why)) {
        fprintf(stderr, "powerbankctl: %s\n", why);
        return kFailed;
    }
    for (int i = 0; i < req.count; ++i) {
        const SetItem &item = req.items[i];
        printf("%s: %s, %s\n", item.setting->name,
               item.stored[0] != '\0' ? "stored" : "back to the default",
               apply ? "taken at the restart" : set_takes_effect(item));
    }
    if (!apply) {
        printf("(--apply restarts the daemon so that it takes them now)\n");
        return kOk;
    }
    char cost[320];
    restart_cost(cost, sizeof cost);
    printf("restarting the daemon (%s): %s\n", restart, cost);
    fflush(stdout);
    if (!restart_daemon(restart, why, sizeof why)) {
        fprintf(stderr, "powerbankctl: %s; the settings are stored\n", why);
        return kFailed;
    }
    return kOk;
}

}  // namespace powerbankctl
