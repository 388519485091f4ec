// One look at the bus: is the daemon's object there?
#include "bus.h"

#include <errno.h>
#include <libubus.h>

namespace powerbankctl {

const char kBrokerObject[] = "powerbank_broker";

int daemon_on_bus(const char *socket) {
    errno = 0;
    ubus_context *ctx = ubus_connect(socket);
    if (ctx == nullptr) {
        errno = errno != 0 ? errno : ECONNREFUSED;
        return -1;
    }
    uint32_t id = 0;
    const int found = ubus_lookup_id(ctx, kBrokerObject, &id);
    ubus_free(ctx);
    if (found != UBUS_STATUS_OK && found != UBUS_STATUS_NOT_FOUND) {
        errno = ECONNRESET;
        return -1;
    }
    return found == UBUS_STATUS_OK ? 1 : 0;
}

}  // namespace powerbankctl
