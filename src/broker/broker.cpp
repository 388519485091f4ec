#include "broker/broker.h"

// No broker thread yet: nothing reaches the bus.
int powerbank_init_broker_task() {
    return 0;
}
void *broker_task(void *) {
    return nullptr;
}
int powerbank_inter_comm_msg_process(const char *) {
    return -1;
}
