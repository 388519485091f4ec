// Settings written as the daemon reads them: every NAME=VALUE is checked
// before any is written, so a refused one leaves the store as it was.
#pragma once

#include <stddef.h>

#include "settings.h"

namespace powerbankctl {

struct SetItem {
    const Setting *setting;
    char stored[16];  // "" removes the key (the daemon's default)
};

struct SetRequest {
    static constexpr int kMax = 32;
    SetItem items[kMax];
    int count = 0;
};

// Checks NAME (LEN bytes) = TEXT and adds it to REQ; false with the reason
// in WHY ("poe1=22 refused: accepted auto, on or off, or default").
bool set_check(SetRequest *req, const char *name, size_t len, const char *text, char *why,
               size_t why_size);
// Writes every item of REQ; false with the reason in WHY when a write failed
// (the items before it are written).
bool set_write(const SetRequest &req, char *why, size_t why_size);
// When the written settings take effect without a restart, in words.
const char *set_takes_effect(const SetItem &item);

// Runs COMMAND through /bin/sh, its standard output sent to standard error;
// true when it exits with status 0 (else the reason in WHY).
bool restart_daemon(const char *command, char *why, size_t why_size);
// What a restart costs, in words, for the delay now stored.
void restart_cost(char *out, size_t size);

}  // namespace powerbankctl
