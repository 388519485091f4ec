// The broker's receive path: each input is one datagram on the local socket,
// read and turned into an event by the broker's receive step. The daemon's
// broker sends only while it is connected to the bus, which this program is
// not: ubus_send_event is replaced here, at link time, by a check of the
// event the broker built.
#include <libubus.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>

#include <string>

#include "broker/broker.h"

namespace {

int sock[2] = {-1, -1};
std::string text;  // the datagram as the broker reads it: up to its first NUL
size_t datagram_size;

// FIELD must stand right behind the first KEY in the text, ended by a CR.
bool from_text(const char *key, const std::string &field, size_t room) {
    const size_t at = text.find(key);
    return !field.empty() && field.size() < room && at != std::string::npos &&
           text.compare(at + strlen(key), field.size() + 1, field + "\r") == 0;
}

}  // namespace

extern "C" int ubus_send_event(ubus_context *, const char *type, blob_attr *data) {
    static const blobmsg_policy policy[] = {{"id", BLOBMSG_TYPE_INT32},
                                            {"msg", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2];
    if (datagram_size >= 512 || blobmsg_parse(policy, 2, tb, blob_data(data), blob_len(data)) ||
        tb[0] == nullptr || tb[1] == nullptr || !from_text("type=", type, 64) ||
        !from_text("msg=", blobmsg_get_string(tb[1]), 128)) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (sock[0] < 0 && socketpair(AF_UNIX, SOCK_DGRAM, 0, sock) != 0) {
        abort();
    }
    const char *bytes = reinterpret_cast<const char *>(data);
    text.assign(bytes, strnlen(bytes, size));
    datagram_size = size;
    if (send(sock[0], data, size, 0) == static_cast<ssize_t>(size)) {
        powerbank_inter_comm_msg_recv(sock[1]);
    }
    return 0;
}
