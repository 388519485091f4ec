/*
 * ubusd_clients.c - the host bus daemon's clients: the table, sending to one,
 * serving what one sent, and dropping one.
 */
#define _GNU_SOURCE
#include <stdlib.h>
#include <unistd.h>

#include "ubusd.h"

struct client *clients[MAX_CLIENTS];

struct client *find_client(uint32_t id) {
    int i;

    for (i = 0; i < MAX_CLIENTS; i++)
        if (clients[i] && !clients[i]->dead && clients[i]->id == id)
            return clients[i];
    return NULL;
}

void send_to(struct client *c, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
             const struct blob_attr *payload) {
    if (!c || c->dead)
        return;
    if (ubus_wire_send(c->fd, type, seq, id, status, payload, SEND_TIMEOUT_MS) < 0)
        c->dead = true;
}

void drop_client(int slot) {
    struct client *c = clients[slot];
    int i;

    clients[slot] = NULL;
    close(c->fd);

    client_gone(c);
    for (i = 0; i < c->n_patterns; i++)
        free(c->patterns[i]);
    ubus_wire_rx_free(&c->rx);
    free(c);
}

void serve_client(struct client *c) {
    struct ubus_wire_msg msg;
    int fill = ubus_wire_fill(c->fd, &c->rx);
    int r = 0;

    while (!c->dead && (r = ubus_wire_next(&c->rx, &msg)) == 1) {
        if (!handle_msg(c, &msg))
            c->dead = true;
        ubus_wire_msg_free(&msg);
    }
    if (r < 0 || fill < 0)
        c->dead = true;
}
