// powerbankctl: the operator's companion of the powerbank daemon on the
// device. It reads what the daemon publishes (status keys in the store, bus
// events, its bus object), checks and writes its settings, records a change
// log and serves it to rpcd. The verbs, one file each.
#pragma once

namespace powerbankctl {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;  // something to read or write was not there
constexpr int kUsage = 2;   // bad arguments, or a setting refused

// Where the companion finds the daemon's world: an option, else the
// environment, else the device's own path.
struct Paths {
    const char *socket;   // -s, POWERBANK_SOCKET, "/var/run/ubus/ubus.sock"
    const char *log;      // -l, POWERBANK_LOG, "/var/log/powerbank.log"
    const char *restart;  // POWERBANK_RESTART, "/etc/init.d/powerbank restart"
};

int cmd_status(const Paths &paths, int argc, char **argv);
int cmd_set(const Paths &paths, int argc, char **argv);
int cmd_log(const Paths &paths, int argc, char **argv);
int cmd_timeline(const Paths &paths, int argc, char **argv);
int cmd_record(const Paths &paths, int argc, char **argv);
int cmd_rpcd(const Paths &paths, int argc, char **argv);

// The usage text on standard error; kUsage.
int usage();

}  // namespace powerbankctl
