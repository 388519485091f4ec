#include "sockets.h"

#include <errno.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "context.h"
#include "files.h"
#include "real.h"

using namespace boardsim;

namespace {

constexpr int kMaxFd = 4096;
// Sockets connected to the local socket path (so send/write journal too).
unsigned char g_local_peer[kMaxFd];

const char *const kLocal = "powerbankserver";

// When ADDR is a Unix address naming one of the device's socket paths, fills
// OUT with the board's address and returns the short name; else null.
// A mapped address that did not fit (*OUT_LEN 0) makes the call fail.
bool too_long(const char *name, socklen_t out_len) {
    if (name != nullptr && out_len == 0) {
        errno = ENAMETOOLONG;
        return true;
    }
    return false;
}

const char *map_address(const struct sockaddr *addr, socklen_t len, struct sockaddr_un *out,
                        socklen_t *out_len) {
    if (addr == nullptr || addr->sa_family != AF_UNIX ||
        len <= static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path)) ||
        !context().active) {
        return nullptr;
    }
    const auto *un = reinterpret_cast<const struct sockaddr_un *>(addr);
    size_t max = static_cast<size_t>(len) - offsetof(struct sockaddr_un, sun_path);
    if (max > sizeof un->sun_path) {
        max = sizeof un->sun_path;
    }
    char path[sizeof un->sun_path + 1];
    size_t n = strnlen(un->sun_path, max);
    if (n == 0) {
        return nullptr;  // abstract or unnamed
    }
    memcpy(path, un->sun_path, n);
    path[n] = '\0';
    char board[kPathMax];
    const char *name = nullptr;
    if (!map_device_path(path, board, sizeof board, &name)) {
        return nullptr;
    }
    memset(out, 0, sizeof *out);
    out->sun_family = AF_UNIX;
    if (strlen(board) >= sizeof out->sun_path) {
        // The board directory is too deep for a socket path. The call fails
        // rather than reach the device path, which every board shares.
        *out_len = 0;
        return name;
    }
    strcpy(out->sun_path, board);
    *out_len = static_cast<socklen_t>(offsetof(struct sockaddr_un, sun_path) + strlen(board) + 1);
    return name;
}

bool local_peer(int fd) {
    return fd >= 0 && fd < kMaxFd && __atomic_load_n(&g_local_peer[fd], __ATOMIC_RELAXED);
}

void set_local_peer(int fd, bool on) {
    if (fd >= 0 && fd < kMaxFd) {
        __atomic_store_n(&g_local_peer[fd], on ? 1 : 0, __ATOMIC_RELAXED);
    }
}

// Journals a send of N bytes (result R) when it went to the local socket;
// returns R with the call's errno.
ssize_t sent(bool local, const void *buf, size_t n, ssize_t r) {
    const int err = errno;
    if (local) {
        journal_bytes("sock", kLocal, "send", buf, n, r < 0 ? err : 0);
    }
    errno = err;
    return r;
}

// An address as the call should see it: the board's when it names one of the
// device's socket paths (NAME its short name), else the caller's.
struct Mapped {
    struct sockaddr_un un;
    const struct sockaddr *addr;
    socklen_t len;
    const char *name;  // null when not a device path

    [[nodiscard]] bool local() const { return name != nullptr && strcmp(name, kLocal) == 0; }
};

// Maps ADDR into *M; false (errno ENAMETOOLONG) when the board's path does not fit.
bool map(const struct sockaddr *addr, socklen_t len, Mapped *m) {
    socklen_t un_len = 0;
    m->name = map_address(addr, len, &m->un, &un_len);
    m->addr = m->name != nullptr ? reinterpret_cast<const struct sockaddr *>(&m->un) : addr;
    m->len = m->name != nullptr ? un_len : len;
    return !too_long(m->name, un_len);
}

}  // namespace

namespace boardsim {

bool socket_write(int fd, const void *buf, size_t n, ssize_t *result) {
    if (!local_peer(fd)) {
        return false;
    }
    *result = sent(true, buf, n, REAL(write)(fd, buf, n));
    return true;
}

void socket_forget(int fd) {
    set_local_peer(fd, false);
}

}  // namespace boardsim

extern "C" {

__attribute__((visibility("default"))) int bind(int fd, const struct sockaddr *addr,
                                                socklen_t len) {
    Mapped m;
    if (!map(addr, len, &m)) {
        return -1;
    }
    const int r = REAL(bind)(fd, m.addr, m.len);
    const int err = errno;
    if (m.local()) {
        journal_bytes("sock", kLocal, "bind", "", 0, r < 0 ? err : 0);
    }
    errno = err;
    return r;
}

__attribute__((visibility("default"))) int connect(int fd, const struct sockaddr *addr,
                                                   socklen_t len) {
    Mapped m;
    if (!map(addr, len, &m)) {
        return -1;
    }
    const int r = REAL(connect)(fd, m.addr, m.len);
    set_local_peer(fd, r == 0 && m.local());
    return r;
}

__attribute__((visibility("default"))) ssize_t sendto(int fd, const void *buf, size_t n, int flags,
                                                      const struct sockaddr *addr, socklen_t len) {
    Mapped m;
    if (!map(addr, len, &m)) {
        return -1;
    }
    // Without an address the datagram goes where the socket is connected.
    const bool local = m.name != nullptr ? m.local() : addr == nullptr && local_peer(fd);
    return sent(local, buf, n, REAL(sendto)(fd, buf, n, flags, m.addr, m.len));
}

__attribute__((visibility("default"))) ssize_t send(int fd, const void *buf, size_t n, int flags) {
    const bool local = local_peer(fd);
    return sent(local, buf, n, REAL(send)(fd, buf, n, flags));
}

__attribute__((visibility("default"))) ssize_t sendmsg(int fd, const struct msghdr *msg,
                                                       int flags) {
    Mapped m;
    if (msg == nullptr ||
        !map(static_cast<const struct sockaddr *>(msg->msg_name), msg->msg_namelen, &m)) {
        return msg == nullptr ? REAL(sendmsg)(fd, msg, flags) : -1;
    }
    const bool local = m.name != nullptr ? m.local() : msg->msg_name == nullptr && local_peer(fd);
    struct msghdr copy = *msg;
    copy.msg_name = const_cast<struct sockaddr *>(m.addr);
    copy.msg_namelen = m.len;
    const ssize_t r = REAL(sendmsg)(fd, &copy, flags);
    // The datagram is the iovecs joined.
    char data[4096];
    size_t len = 0;
    for (size_t i = 0; local && i < static_cast<size_t>(msg->msg_iovlen); ++i) {
        const size_t take = std::min(msg->msg_iov[i].iov_len, sizeof data - len);
        memcpy(data + len, msg->msg_iov[i].iov_base, take);
        len += take;
    }
    return sent(local, data, len, r);
}

}  // extern "C"
