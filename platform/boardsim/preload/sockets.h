// The device's Unix socket paths, mapped into the board directory, and the
// journal of datagrams sent to the daemon's local socket.
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace boardsim {

// write(2) on a socket connected to the local socket: journalled, then sent.
// False when FD is not such a socket.
bool socket_write(int fd, const void *buf, size_t n, ssize_t *result);
// Forgets FD's connection (before it is closed or replaced).
void socket_forget(int fd);

}  // namespace boardsim
