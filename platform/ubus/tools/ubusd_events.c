/*
 * ubusd_events.c - events: listeners' patterns and the fan-out of every
 * event, the daemon's own "ubus.object.add" / "ubus.object.remove" included.
 */
#define _GNU_SOURCE
#include <libubox/blobmsg.h>
#include <libubus.h>
#include <stdlib.h>
#include <string.h>

#include "ubusd.h"

/* Exact, or a prefix when the pattern ends in '*'. */
bool pattern_matches(const char *pattern, const char *type) {
    size_t len = strlen(pattern);

    if (len > 0 && pattern[len - 1] == '*')
        return strncmp(pattern, type, len - 1) == 0;
    return strcmp(pattern, type) == 0;
}

/* payload: {"type": ..., "data": {...}} as listeners receive it. */
static void fan_out(const char *type, const struct blob_attr *payload) {
    int i, j;

    for (i = 0; i < MAX_CLIENTS; i++) {
        struct client *c = clients[i];

        if (!c || c->dead)
            continue;
        for (j = 0; j < c->n_patterns; j++) {
            if (pattern_matches(c->patterns[j], type)) {
                send_to(c, UBUS_WIRE_EVENT, 0, 0, 0, payload);
                break;
            }
        }
    }
}

void announce_object(uint32_t id, const char *path, bool add) {
    const char *type = add ? "ubus.object.add" : "ubus.object.remove";
    struct blob_buf b;
    void *data;

    if (!path)
        return;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "type", type);
    data = blobmsg_open_table(&b, "data");
    blobmsg_add_u32(&b, "id", id);
    blobmsg_add_string(&b, "path", path);
    blobmsg_close_table(&b, data);
    fan_out(type, b.head);
    blob_buf_free(&b);
}

void handle_event(struct client *c, struct ubus_wire_msg *msg) {
    enum { E_TYPE, E_DATA, __E_MAX };
    static const struct blobmsg_policy policy[__E_MAX] = {
        [E_TYPE] = {.name = "type", .type = BLOBMSG_TYPE_STRING},
        [E_DATA] = {.name = "data", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__E_MAX];
    struct blob_buf b;

    if (ubus_wire_parse(policy, __E_MAX, tb, msg) < 0 || !tb[E_TYPE]) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
        return;
    }

    /* Listeners get the event before the sender hears it was accepted. */
    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "type", blobmsg_get_string(tb[E_TYPE]));
    ubus_wire_add_table(&b, "data", tb[E_DATA]);
    fan_out(blobmsg_get_string(tb[E_TYPE]), b.head);
    blob_buf_free(&b);

    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_OK, NULL);
}

void handle_listen(struct client *c, struct ubus_wire_msg *msg) {
    static const struct blobmsg_policy policy = {.name = "pattern", .type = BLOBMSG_TYPE_STRING};
    struct blob_attr *tb;
    int status = UBUS_STATUS_INVALID_ARGUMENT;

    if (ubus_wire_parse(&policy, 1, &tb, msg) == 0 && tb && c->n_patterns < MAX_PATTERNS) {
        c->patterns[c->n_patterns++] = strdup(blobmsg_get_string(tb));
        status = UBUS_STATUS_OK;
    }
    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, status, NULL);
}
