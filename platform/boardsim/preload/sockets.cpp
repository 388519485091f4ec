#include "sockets.h"

#include <errno.h>
#include <stddef.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

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
    if (!map_socket_path(path, board, sizeof board, &name)) {
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

void journal_send(const void *buf, size_t n, ssize_t r, int err) {
    journal_bytes("sock", kLocal, "send", buf, n, r < 0 ? err : 0);
}

}  // namespace

namespace boardsim {

bool socket_write(int fd, const void *buf, size_t n, ssize_t *result) {
    if (!local_peer(fd)) {
        return false;
    }
    *result = REAL(write)(fd, buf, n);
    int err = errno;
    journal_send(buf, n, *result, err);
    errno = err;
    return true;
}

void socket_forget(int fd) {
    set_local_peer(fd, false);
}

}  // namespace boardsim

extern "C" {

__attribute__((visibility("default"))) int bind(int fd, const struct sockaddr *addr,
                                                socklen_t len) {
    struct sockaddr_un un;
    socklen_t un_len = 0;
    const char *name = map_address(addr, len, &un, &un_len);
    if (too_long(name, un_len)) {
        return -1;
    }
    if (name == nullptr) {
        return REAL(bind)(fd, addr, len);
    }
    int r = REAL(bind)(fd, reinterpret_cast<struct sockaddr *>(&un), un_len);
    int err = errno;
    if (strcmp(name, kLocal) == 0) {
        journal_bytes("sock", kLocal, "bind", "", 0, r < 0 ? err : 0);
    }
    errno = err;
    return r;
}

__attribute__((visibility("default"))) int connect(int fd, const struct sockaddr *addr,
                                                   socklen_t len) {
    struct sockaddr_un un;
    socklen_t un_len = 0;
    const char *name = map_address(addr, len, &un, &un_len);
    if (too_long(name, un_len)) {
        return -1;
    }
    if (name == nullptr) {
        set_local_peer(fd, false);
        return REAL(connect)(fd, addr, len);
    }
    int r = REAL(connect)(fd, reinterpret_cast<struct sockaddr *>(&un), un_len);
    set_local_peer(fd, r == 0 && strcmp(name, kLocal) == 0);
    return r;
}

__attribute__((visibility("default"))) ssize_t sendto(int fd, const void *buf, size_t n, int flags,
                                                      const struct sockaddr *addr, socklen_t len) {
    struct sockaddr_un un;
    socklen_t un_len = 0;
    const char *name = map_address(addr, len, &un, &un_len);
    if (too_long(name, un_len)) {
        return -1;
    }
    if (name == nullptr) {
        if (addr == nullptr && local_peer(fd)) {
            ssize_t r = REAL(sendto)(fd, buf, n, flags, addr, len);
            int err = errno;
            journal_send(buf, n, r, err);
            errno = err;
            return r;
        }
        return REAL(sendto)(fd, buf, n, flags, addr, len);
    }
    ssize_t r = REAL(sendto)(fd, buf, n, flags, reinterpret_cast<struct sockaddr *>(&un), un_len);
    int err = errno;
    if (strcmp(name, kLocal) == 0) {
        journal_send(buf, n, r, err);
    }
    errno = err;
    return r;
}

__attribute__((visibility("default"))) ssize_t send(int fd, const void *buf, size_t n, int flags) {
    if (!local_peer(fd)) {
        return REAL(send)(fd, buf, n, flags);
    }
    ssize_t r = REAL(send)(fd, buf, n, flags);
    int err = errno;
    journal_send(buf, n, r, err);
    errno = err;
    return r;
}

__attribute__((visibility("default"))) ssize_t sendmsg(int fd, const struct msghdr *msg,
                                                       int flags) {
    if (msg == nullptr) {
        return REAL(sendmsg)(fd, msg, flags);
    }
    struct sockaddr_un un;
    socklen_t un_len = 0;
    const char *name = map_address(static_cast<const struct sockaddr *>(msg->msg_name),
                                   msg->msg_namelen, &un, &un_len);
    if (too_long(name, un_len)) {
        return -1;
    }
    bool local =
        name != nullptr ? strcmp(name, kLocal) == 0 : msg->msg_name == nullptr && local_peer(fd);
    struct msghdr copy = *msg;
    if (name != nullptr) {
        copy.msg_name = &un;
        copy.msg_namelen = un_len;
    }
    ssize_t r = REAL(sendmsg)(fd, &copy, flags);
    int err = errno;
    if (local) {
        // The datagram is the iovecs joined.
        char data[4096];
        size_t len = 0;
        for (size_t i = 0; i < static_cast<size_t>(msg->msg_iovlen); ++i) {
            size_t take = msg->msg_iov[i].iov_len;
            if (take > sizeof data - len) {
                take = sizeof data - len;
            }
            memcpy(data + len, msg->msg_iov[i].iov_base, take);
            len += take;
        }
        journal_send(data, len, r, err);
    }
    errno = err;
    return r;
}

}  // extern "C"
