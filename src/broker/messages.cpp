#include "broker/messages.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "base/fd_io.h"
#include "base/log.h"

namespace {

// Every text is built in, and sent from, a buffer of this size: at most 511
// bytes go out, never a NUL.
constexpr size_t kMsgBufSize = 512;

// The peer's address goes out whole: 2 bytes of family and 108 of path.
static_assert(sizeof(sockaddr_un) == 110);

// Formats "type=%s\r\nmsg=%s\r\n" (cut at 511 bytes), traces it and sends it.
// The trace line names the composing operation, so the caller passes its name.
int send_typed(const char *caller, const char *type, const char *message) {
    char text[kMsgBufSize] = {};
    if (snprintf(text, sizeof text, "type=%s\r\nmsg=%s\r\n", type, message) < 0) {
        text[0] = '\0';
    }
    broker_trace_log(caller, __LINE__, "[inter msg snd] %s\n", text);
    (void)powerbank_inter_comm_msg_send(text);
    return 0;
}

}  // namespace

int powerbank_inter_comm_msg_send(const char *text) {
    if (text == nullptr) {
        return -1;
    }
    char buf[kMsgBufSize] = {};
    // Non-blocking: when the broker's queue is full (the broker is stuck on a
    // dead bus) the message is lost like any other failed send, and the main
    // thread never waits for the broker.
    unique_fd sock(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!sock) {
        broker_trace_log(__func__, __LINE__, "sokcet create failed: %s\n", strerror(errno));
        return -1;
    }

    sockaddr_un peer;
    memset(&peer, 0, sizeof peer);
    peer.sun_family = AF_UNIX;
    strncpy(peer.sun_path, kBrokerSocketPath, sizeof peer.sun_path - 1);

    strncpy(buf, text, sizeof buf - 1);
    ssize_t sent =
        ::sendto(sock.get(), buf, strlen(buf), 0, reinterpret_cast<sockaddr *>(&peer), sizeof peer);
    if (sent < 0) {
        int err = errno;
        perror("sendto");
        broker_trace_log(__func__, __LINE__, "sendto  failed: %s\n", strerror(err));
    }
    return 0;
}

int powerbank_inter_comm_sendstatfile_msg_send(const char *name) {
    if (name == nullptr) {
        return -1;
    }
    char message[kMsgBufSize] = {};
    if (snprintf(message, sizeof message, "%s", name) < 0) {
        message[0] = '\0';
    }
    return send_typed(__func__, "SendStatFile", message);
}

int powerbank_inter_comm_sendstatchange_msg_send(const char *key, const char *value) {
    if (key == nullptr || value == nullptr) {
        return -1;
    }
    char message[kMsgBufSize] = {};
    if (snprintf(message, sizeof message, "%s=%s", key, value) < 0) {
        message[0] = '\0';
    }
    return send_typed(__func__, "SendStatChang", message);
}
