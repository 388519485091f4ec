// status [--json]: the daemon's state, gathered once.
#include "status.h"

#include <devmgr.h>
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "bus.h"

namespace powerbankctl {

namespace {

bool is_dir(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void status_gather(const Paths &paths, Status *s) {
    s->status_dir = is_dir(devmgr_status_dir());
    s->config_dir = is_dir(devmgr_config_dir());
    published_read(&s->pub);
    for (int i = 0; i < kSettingCount; ++i) {
        setting_read(kSettings[i], &s->settings[i]);
    }
    s->daemon = daemon_on_bus(paths.socket);
    s->bus_errno = s->daemon < 0 ? errno : 0;
}

bool status_complain(const Status &s, const Paths &paths) {
    if (!s.status_dir) {
        fprintf(stderr, "powerbankctl: no status directory %s (DEVMGR_STATUS_DIR)\n",
                devmgr_status_dir());
    }
    if (!s.config_dir) {
        fprintf(stderr, "powerbankctl: no configuration directory %s (DEVMGR_CONFIG_DIR)\n",
                devmgr_config_dir());
    }
    if (s.daemon < 0) {
        fprintf(stderr, "powerbankctl: no bus at %s (-s, POWERBANK_SOCKET): %s\n", paths.socket,
                strerror(s.bus_errno));
    }
    return !s.status_dir || !s.config_dir || s.daemon < 0;
}

int derived_output(const Status &s, int mode) {
    if (mode != 2) {
        return mode == 1 ? 1 : 0;
    }
    if (strcmp(s.pub.dc, "up") == 0) {
        return 1;
    }
    if (strcmp(s.pub.dc, "down") != 0) {
        return -1;
    }
    // On batteries only a bank of 60 W or more keeps an automatic output on.
    for (const Published::Port &port : s.pub.ports) {
        const int state = port_state(port);
        if (state > 0 && bank_class(state)[0] == '6') {
            return 1;
        }
    }
    return 0;
}

const char *oc_meaning(const char *value, bool total) {
    static const char *const kOutput[] = {"off", "no load", "load", "over-current"};
    static const char *const kTotal[] = {"all off", nullptr, "within the limit", "over the limit"};
    if (value[0] < '0' || value[0] > '3' || value[1] != '\0') {
        return nullptr;
    }
    return (total ? kTotal : kOutput)[value[0] - '0'];
}

int cmd_status(const Paths &paths, int argc, char **argv) {
    bool json = false;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--json") != 0) {
            return usage();
        }
        json = true;
    }
    return show_status(paths, json);
}

int show_status(const Paths &paths, bool json) {
    static Status s;
    status_gather(paths, &s);
    json ? status_json(s, stdout) : status_panel(s, stdout);
    const bool missing = status_complain(s, paths);
    return fflush(stdout) == 0 && !missing ? kOk : kFailed;
}

}  // namespace powerbankctl
