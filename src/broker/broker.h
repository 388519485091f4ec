// The broker thread: the daemon's one bus connection. It serves the local
// socket and re-publishes every well-formed message as a bus event.
#pragma once

// Starts the broker thread; 0 whether or not it could be created.
int powerbank_init_broker_task();
// The thread body; never returns.
void *broker_task(void *arg);
// Reads one datagram from the local socket FD and processes it as a message;
// one of 512 bytes or more is dropped whole, with a trace line.
void powerbank_inter_comm_msg_recv(int fd);
// Parses one received text and sends its event: 0 sent, the bus error when the
// send failed, -1 for a null text or a missing or empty field.
int powerbank_inter_comm_msg_process(const char *text);
