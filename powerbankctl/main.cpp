// powerbankctl: global options, then the verb.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ctl.h"

namespace powerbankctl {

namespace {

struct Verb {
    const char *name;
    int (*run)(const Paths &, int, char **);
    const char *usage;
};

const Verb kVerbs[] = {
    {"status", cmd_status, "status [--json]"},
    {"set", cmd_set, "set [--apply] [--restart COMMAND] NAME=VALUE..."},
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
    if (verb == nullptr || strcmp(verb, "set") == 0) {
        fputs(
            "settings: poe1 poe2 ups (auto, on, off), delay (seconds), poe1_threshold\n"
            "  poe2_threshold ups_threshold total_power detection_time dc_absent_passes\n"
            "  (numbers), debug (on, off); NAME=default removes one\n",
            stderr);
    }
    if (verb == nullptr) {
        fputs(
            "SOCKET: the bus (POWERBANK_SOCKET, else /var/run/ubus/ubus.sock); LOG: the change\n"
            "  log (POWERBANK_LOG, else /var/log/powerbank.log); set --apply runs COMMAND\n"
            "  (POWERBANK_RESTART, else /etc/init.d/powerbank restart); the store:\n"
            "  DEVMGR_CONFIG_DIR, DEVMGR_STATUS_DIR. TIME: 2026-12-06T04:45:06.123Z (UTC)\n",
            stderr);
    }
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
