// The daemon's two operations on the device's configuration/status store.
#pragma once

#include <stddef.h>

// Reads configuration KEY into VALUE, which the caller has zero-filled. The
// value is cut to the buffer and always NUL-terminated; an absent key leaves
// the buffer empty. Callers pass an array, so the size is never wrong.
int dev_manager_cfg_get(const char *key, char *value, size_t size);
template <size_t N>
inline int dev_manager_cfg_get(const char *key, char (&value)[N]) {
    return dev_manager_cfg_get(key, value, N);
}

// Publishes VALUE as the current status of KEY for other processes.
int dev_manager_status_set(const char *key, const char *value);
