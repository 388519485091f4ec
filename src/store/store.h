// The daemon's two operations on the device's configuration/status store.
#pragma once

#include <stddef.h>

// Reads configuration KEY into VALUE, which the caller has zero-filled, and
// gives the store's result. A value that does not fit the buffer is not that
// value: it leaves the buffer empty, as an absent key does, so the caller's
// default applies (one trailing newline does not count: "1\n" fits two bytes).
// Callers pass an array, so the size is never wrong.
int dev_manager_cfg_get(const char *key, char *value, size_t size);
template <size_t N>
inline int dev_manager_cfg_get(const char *key, char (&value)[N]) {
    return dev_manager_cfg_get(key, value, N);
}

// Publishes VALUE as the current status of KEY for other processes.
int dev_manager_status_set(const char *key, const char *value);
