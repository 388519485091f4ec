// powerbankctl: global options, then the verb.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ctl.h"
#include "settings.h"

namespace powerbankctl {

namespace {

struct Verb {
    const char *name;
    int (*run)(const Paths &, int, char **);
    const char *usage;
};

const Verb kVerbs[] = {
    {"status", cmd_status, "status [--json]"},
    {"set", cmd_set, "set [--apply] NAME=VALUE..."},
    {"log", cmd_log, "log [-f] [--since TIME]"},
    {"timeline", cmd_timeline, "timeline [LOG] [-o FILE.svg] [--from TIME] [--to TIME]"},
    {"record", cmd_record, "record [--size BYTES]"},
    {"rpcd", cmd_rpcd, "rpcd list | rpcd call status|set|log"},
};

// An option's value, else the environment's, else the device's.
const char *pick(const char *option, const char *env, const char *device) {
    const char *from_env = getenv(env);
    return option != nullptr ? option : from_env != nullptr && *from_env ? from_env : device;
}

}  // namespace

int usage(const char *verb) {
    fputs("usage: powerbankctl [-s SOCKET] [-l LOG] COMMAND\n", stderr);
    for (const Verb &v : kVerbs) {
        if (verb == nullptr || strcmp(verb, v.name) == 0) {
            fprintf(stderr, "  %s\n", v.usage);
        }
    }
    fprintf(stderr,
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
    for (const Verb &v : kVerbs) {
        if (i < argc && strcmp(argv[i], v.name) == 0) {
            return v.run(paths, argc - i - 1, argv + i + 1);
        }
    }
    return usage(nullptr);
}
