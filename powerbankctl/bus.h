// The daemon as the bus shows it: its object "powerbank_broker".
#pragma once

namespace powerbankctl {

extern const char kBrokerObject[];

// 1 when the daemon's object is on the bus at SOCKET, 0 when it is not, -1
// when the bus cannot be reached (errno says why).
int daemon_on_bus(const char *socket);

}  // namespace powerbankctl
