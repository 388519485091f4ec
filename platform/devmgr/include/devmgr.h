/* Host store library: a file-backed configuration/status store.
 *
 * Configuration lives in $DEVMGR_CONFIG_DIR (default /etc/devmgr), status in
 * $DEVMGR_STATUS_DIR (default /var/run/devmgr), one regular file per key whose
 * content is the value; one trailing newline is not part of the value. Writes
 * go to a temporary file in the same directory and are renamed over the key's
 * file, so a reader never sees half a value. Keys are 1 to 64 characters of
 * A-Z a-z 0-9 _ . - and do not start with '.'.
 */
#ifndef DEVMGR_H
#define DEVMGR_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Results. */
#define DEVMGR_OK 0
#define DEVMGR_ABSENT 1  /* the key has no value */
#define DEVMGR_BAD_KEY 2 /* the key breaks the key rules; nothing was read or written */
#define DEVMGR_ERROR 3   /* an argument was null or the file system failed (errno says why) */

/* 1 when KEY follows the key rules, else 0. */
int devmgr_key_valid(const char *key);

/* Read KEY's value into BUF of SIZE bytes: cut to fit, always NUL-terminated.
 * On any result but DEVMGR_OK the buffer holds the empty string (when SIZE > 0). */
int devmgr_cfg_get(const char *key, char *buf, size_t size);
int devmgr_status_get(const char *key, char *buf, size_t size);

/* Store VALUE under KEY (the status directory is created when missing). */
int devmgr_cfg_set(const char *key, const char *value);
int devmgr_status_set(const char *key, const char *value);

/* Remove KEY; removing an absent key gives DEVMGR_ABSENT. */
int devmgr_cfg_unset(const char *key);
int devmgr_status_unset(const char *key);

/* Text for a result code. */
const char *devmgr_strerror(int result);

#ifdef __cplusplus
}
#endif

#endif /* DEVMGR_H */
