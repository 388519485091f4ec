// What ubusd-sim reads from a client: each input is the byte stream one client
// sends. The daemon serves every frame in it (objects, calls, answers, events,
// listens and subscriptions, all from and to this one client) and drops the
// client at the end, as when it hangs up. Every frame that decodes is also
// printed as ubus-sim prints what it receives.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

extern "C" {
#include "json.h"
#include "ubusd.h"
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // A stream that drops what it is given, without opening a file: where
    // /dev/null is missing, fopen would create a regular file there.
    static FILE *sink = fopencookie(
        nullptr, "w",
        {nullptr, [](void *, const char *, size_t n) { return ssize_t(n); }, nullptr, nullptr});
    ubus_wire_rx rx = {static_cast<char *>(malloc(size + 1)), static_cast<uint32_t>(size),
                       static_cast<uint32_t>(size + 1)};
    memcpy(rx.buf, data, size);
    ubus_wire_msg msg;
    while (ubus_wire_next(&rx, &msg) == 1) {
        json_print(sink, msg.data, false, -1);
        json_print(sink, msg.data, false, 0);
        ubus_wire_msg_free(&msg);
    }
    ubus_wire_rx_free(&rx);

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0) {
        abort();
    }
    const ssize_t sent = write(fds[0], data, size);  // what fits is served
    (void)sent;
    seed_ids(1);
    clients[0] = static_cast<client *>(calloc(1, sizeof(client)));
    clients[0]->fd = fds[1];
    clients[0]->id = new_id();
    serve_client(clients[0]);
    drop_client(0);
    close(fds[0]);
    return 0;
}
