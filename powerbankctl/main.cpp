// powerbankctl: global options, then the verb.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ctl.h"
#include "settings.h"

namespace powerbankctl {

namespace {

// The verbs, named in this order in kVerbNames.
int (*const kVerbs[])(const Paths &, int, char **) = {cmd_status, cmd_timeline, cmd_record,
                                                      cmd_rpcd,   cmd_set,      cmd_log};
const char kVerbNames[] = "status\0timeline\0record\0rpcd\0set\0log\0";

// An option's value, else the environment's, else the device's.
const char *pick(const char *option, const char *env, const char *device) {
    const char *from_env = getenv(env);
    return option != nullptr ? option : from_env != nullptr && *from_env ? from_env : device;
}

}  // namespace

int usage() {
    fprintf(stderr,
            "usage: powerbankctl [-s SOCKET] [-l LOG] COMMAND\n"
            "  status [--json]\n"
            "  set [--apply] NAME=VALUE...\n"
            "  log [-f] [--since TIME]\n"
            "  timeline [LOG] [-o FILE.svg] [--from TIME] [--to TIME]\n"
            "  record [--size BYTES]\n"
            "  rpcd list | rpcd call status|set|log\n"
            "NAME: %s\nenvironment: POWERBANK_SOCKET POWERBANK_LOG POWERBANK_RESTART "
            "DEVMGR_CONFIG_DIR DEVMGR_STATUS_DIR\n",
            kSettingNames);
    return kUsage;
}

}  // namespace powerbankctl

int main(int argc, char **argv) {
    using namespace powerbankctl;
    const char *socket = nullptr;
    const char *log = nullptr;
    int i = 1;
    for (; i + 1 < argc && (strcmp(argv[i], "-s") == 0 || strcmp(argv[i], "-l") == 0); i += 2) {
        (argv[i][1] == 's' ? socket : log) = argv[i + 1];
    }
    const Paths paths = {pick(socket, "POWERBANK_SOCKET", "/var/run/ubus/ubus.sock"),
                         pick(log, "POWERBANK_LOG", "/var/log/powerbank.log"),
                         pick(nullptr, "POWERBANK_RESTART", "/etc/init.d/powerbank restart")};
    const char *name = kVerbNames;
    for (auto *const run : kVerbs) {
        if (i < argc && strcmp(argv[i], name) == 0) {
            return run(paths, argc - i - 1, argv + i + 1);
        }
        name += strlen(name) + 1;
    }
    return usage();
}
