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

/* Whether an earlier one of C's first N patterns matching TYPE belongs to
 * the same listener as pattern N: each listener hears an event once. */
static bool heard_before(const struct client *c, int n, const char *type) {
    int k;

    for (k = 0; k < n; k++)
        if (c->pattern_objects[k] == c->pattern_objects[n] && pattern_matches(c->patterns[k], type))
            return true;
    return false;
}

/* payload: {"type": ..., "data": {...}} as listeners receive it; an event
 * handler's copy carries its object id. */
static void fan_out(const char *type, const struct blob_attr *payload) {
    int i, j;

    for (i = 0; i < MAX_CLIENTS; i++) {
        struct client *c = clients[i];

        for (j = 0; c && !c->dead && j < c->n_patterns; j++) {
            if (pattern_matches(c->patterns[j], type) && !heard_before(c, j, type))
                send_to(c, UBUS_WIRE_EVENT, 0, c->pattern_objects[j], 0, payload);
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
    enum { L_PATTERN, L_OBJECT, __L_MAX };
    static const struct blobmsg_policy policy[__L_MAX] = {
        [L_PATTERN] = {.name = "pattern", .type = BLOBMSG_TYPE_STRING},
        [L_OBJECT] = {.name = "object", .type = BLOBMSG_TYPE_INT32},
    };
    struct blob_attr *tb[__L_MAX];
    uint32_t object = 0, owner = 0;
    int status = UBUS_STATUS_INVALID_ARGUMENT;

    if (ubus_wire_parse(policy, __L_MAX, tb, msg) == 0 && tb[L_PATTERN] &&
        c->n_patterns < MAX_PATTERNS) {
        status = UBUS_STATUS_OK;
        if (tb[L_OBJECT]) {
            /* As on the device: an id from an earlier connection is unknown,
             * or belongs to someone else by now. */
            object = blobmsg_get_u32(tb[L_OBJECT]);
            if (!object_owner(object, &owner))
                status = UBUS_STATUS_NOT_FOUND;
            else if (owner != c->id)
                status = UBUS_STATUS_PERMISSION_DENIED;
        }
    }
    if (status == UBUS_STATUS_OK) {
        c->pattern_objects[c->n_patterns] = object;
        c->patterns[c->n_patterns++] = strdup(blobmsg_get_string(tb[L_PATTERN]));
    }
    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, status, NULL);
}

void drop_object_patterns(struct client *c, uint32_t id) {
    int j;

    for (j = 0; c && id && j < c->n_patterns;) {
        if (c->pattern_objects[j] != id) {
            j++;
            continue;
        }
        free(c->patterns[j]);
        c->n_patterns--;
        memmove(&c->patterns[j], &c->patterns[j + 1], (c->n_patterns - j) * sizeof(c->patterns[0]));
        memmove(&c->pattern_objects[j], &c->pattern_objects[j + 1],
                (c->n_patterns - j) * sizeof(c->pattern_objects[0]));
    }
}
