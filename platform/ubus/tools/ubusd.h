/*
 * ubusd.h - the host bus daemon's clients, shared by its parts: ubusd.c
 * (socket, poll loop), ubusd_clients.c (client lifetime), ubusd_bus.c
 * (objects, calls, subscriptions) and ubusd_events.c (listeners and events).
 */
#ifndef UBUSD_H
#define UBUSD_H

#include <stdbool.h>
#include <stdint.h>

#include "ubus_wire.h"

#define MAX_CLIENTS 256
#define MAX_PATTERNS 64
/* A client that cannot take a frame within this time is dropped. */
#define SEND_TIMEOUT_MS 1000

struct client {
    int fd;
    uint32_t id;
    bool dead;
    struct ubus_wire_rx rx;
    char *patterns[MAX_PATTERNS];
    /* The event handler object each pattern was registered for; 0 for the
     * client itself (a bare listen, as the bus tool sends). */
    uint32_t pattern_objects[MAX_PATTERNS];
    int n_patterns;
};

extern struct client *clients[MAX_CLIENTS];

/* Live client by id, or NULL. */
struct client *find_client(uint32_t id);

/* Sends one frame; a client that cannot take it is marked dead. */
void send_to(struct client *c, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
             const struct blob_attr *payload);

/* A fresh id, unused by any client, object or type. */
uint32_t new_id(void);
void seed_ids(uint64_t seed);

/* Exact, or a prefix when the pattern ends in '*'. */
bool pattern_matches(const char *pattern, const char *name);

/* Tells the listeners an object with a path came or went. */
void announce_object(uint32_t id, const char *path, bool add);

/* The owner of object ID, and whether there is one. */
bool object_owner(uint32_t id, uint32_t *owner);
/* Forgets the patterns registered for the event handler object ID of C. */
void drop_object_patterns(struct client *c, uint32_t id);

/* An event from a client, and a client's wish to hear events (for itself,
 * or for one of its objects: an event handler). */
void handle_event(struct client *c, struct ubus_wire_msg *msg);
void handle_listen(struct client *c, struct ubus_wire_msg *msg);

/* Reads what client C sent and serves every whole frame in it; a client that
 * broke the protocol or hung up is marked dead. */
void serve_client(struct client *c);

/* Closes and frees the client in SLOT and forgets everything it had. */
void drop_client(int slot);

/* Serves one frame; false for a client that broke the protocol. */
bool handle_msg(struct client *c, struct ubus_wire_msg *msg);

/* Forgets a client's objects, calls and subscriptions. */
void client_gone(struct client *c);

#endif
