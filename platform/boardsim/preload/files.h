// Descriptors of simulated files: a real descriptor (an anonymous memory file)
// that the library tracks, so descriptor numbers, close-on-exec and close all
// behave as usual while reads, writes and ioctls go to the board model.
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace boardsim {

// Opens PATH if it belongs to the board: true and *RESULT = the descriptor
// (or -1 with errno set). False when PATH is none of the board's, so the call
// must go to the real libc.
bool sim_open(const char *path, int flags, int *result);

// Operations on a tracked descriptor. Each returns false when FD is not one
// of the board's (the caller then uses the real call); otherwise *RESULT holds
// what the call returns (-1 with errno set on failure).
bool sim_read(int fd, void *buf, size_t n, const off_t *at, ssize_t *result);
bool sim_write(int fd, const void *buf, size_t n, const off_t *at, ssize_t *result);
bool sim_lseek(int fd, off_t offset, int whence, off_t *result);
bool sim_ioctl(int fd, unsigned long request, void *arg, int *result);
// Forgets FD (before it is closed or replaced); false when it was not tracked.
bool sim_forget(int fd);
// NEWFD (a fresh duplicate of OLDFD) refers to the same simulated file.
void sim_dup(int oldfd, int newfd);

// 0 when PATH exists in the board's tree, or the errno; false when PATH is
// none of the board's. *IS_DIR tells a directory.
bool sim_lookup(const char *path, int *err, bool *is_dir);

// The device's run-time paths (its two sockets and the daemon's lock file)
// mapped into the board directory. Returns the mapped path in OUT (and the
// short name, "powerbankserver", "ubus" or "lock"), or false when PATH is not
// one of them or no board is active.
bool map_device_path(const char *path, char *out, size_t size, const char **name);

// PATH, or its place in the board when it is one of the device's run-time
// paths (for the calls that are passed on to libc).
inline const char *mapped(const char *path, char *buf, size_t size) {
    const char *name = nullptr;
    return map_device_path(path, buf, size, &name) ? buf : path;
}

}  // namespace boardsim
