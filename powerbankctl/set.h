// Settings written as the daemon reads them: every NAME=VALUE is checked
// before any is written, so a refused one leaves the store as it was.
#pragma once

#include <stddef.h>

#include "ctl.h"
#include "settings.h"

namespace powerbankctl {

struct SetItem {
    const Setting *setting;
    char stored[16];  // "" removes the key (the daemon's default)
};

// (A static one starts empty: zero-initialised, without start-up code.)
struct SetRequest {
    static constexpr int kMax = 32;
    SetItem items[kMax];
    int count;
    char why[1024];  // each refusal on a line; or why writing or the restart failed
    bool json;       // why is for a JSON answer: refusals joined by "; "
};

// Checks NAME (LEN bytes) = TEXT and adds it to REQ, or says in REQ->why why
// not ("poe1=22 refused: accepted auto, on or off, or default").
void set_check(SetRequest *req, const char *name, size_t len, const char *text);
// When nothing was refused, writes every item of REQ and with APPLY runs the
// restart command, then says what was done and what it costs, as text or as
// JSON ({"written": [NAME...], "applied": BOOL, "note": TEXT}, or
// {"error": WHY}). kOk, else kUsage (refused, nothing written) or kFailed
// (the items before a failed write are written).
int set_run(const Paths &paths, SetRequest *req, bool apply, bool json);

}  // namespace powerbankctl
