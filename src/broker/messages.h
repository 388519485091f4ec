// Local datagram messages to the broker thread: "type=%s\r\nmsg=%s\r\n" sent to
// "/tmp/powerbankserver.socket" from a socket of its own, fire and forget.
#pragma once

inline constexpr const char kBrokerSocketPath[] = "/tmp/powerbankserver.socket";

// -1 for a null text or when no socket could be created; 0 otherwise, also
// when the send failed.
int powerbank_inter_comm_msg_send(const char *text);
// Type "SendStatFile" with NAME as the message; -1 for a null name.
int powerbank_inter_comm_sendstatfile_msg_send(const char *name);
// Type "SendStatChang" with "KEY=VALUE" as the message; -1 for a null argument.
int powerbank_inter_comm_sendstatchange_msg_send(const char *key, const char *value);
