// The daemon's state as an operator asks for it: what it published, whether
// it is on the bus, and its settings as stored.
#pragma once

#include <stdio.h>

#include "ctl.h"
#include "published.h"
#include "settings.h"

namespace powerbankctl {

struct Status {
    Published pub;
    int daemon;     // 1 its object is on the bus, 0 it is not, -1 no bus
    int bus_errno;  // why there is no bus
    Reading settings[kSettingCount];
    bool status_dir;  // the store's directories exist
    bool config_dir;
};

void status_gather(const Paths &paths, Status *s);
// Gathers and prints the status as a panel or JSON; kFailed when anything
// could not be read (said on standard error).
int show_status(const Paths &paths, bool json);
// Says on standard error what could not be read (a store directory, the
// bus); true when anything.
bool status_complain(const Status &s, const Paths &paths);

// An output as the policy sets it for the published DC state and banks and
// the stored MODE (0 off, 1 on, 2 automatic): 1 on, 0 off, -1 not known.
int derived_output(const Status &s, int mode);
// The meaning of a published over-current state ("no load", ...), null when
// it is none the daemon publishes.
const char *oc_meaning(const char *value, bool total);

void status_panel(const Status &s, FILE *out);
void status_json(const Status &s, FILE *out);

}  // namespace powerbankctl
