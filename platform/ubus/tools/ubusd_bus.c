/*
 * ubusd_bus.c - what the host bus daemon keeps: objects, their types, calls
 * in flight, subscriptions; and the requests that work on them. Events live
 * in ubusd_events.c.
 *
 * Objects with a path and a known type can be listed and called. An object
 * added with a type id the daemon does not know (a client re-adding after
 * the daemon restarted) gets no type: it is announced but not listed, and
 * calls to it find nothing.
 */
#define _GNU_SOURCE
#include <libubox/blobmsg.h>
#include <libubus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ubusd.h"

struct object {
    uint32_t id;
    uint32_t owner;
    char *path;            /* NULL: anonymous */
    uint32_t type;         /* 0: no type, not listed and not callable */
    uint32_t *subscribers; /* client ids */
    int n_subscribers;
};

struct type {
    uint32_t id;
    struct blob_attr *signature;
};

struct call {
    uint32_t seq; /* our number towards the owner */
    uint32_t owner;
    uint32_t caller;
    uint32_t caller_seq;
};

static struct object *objects;
static int n_objects;
static struct type *types;
static int n_types;
static struct call *calls;
static int n_calls;
static uint32_t call_seq;
static uint64_t id_state;
static void *grow(void *p, int n, size_t size) {
    void *q = realloc(p, (n + 1) * size);

    if (!q) {
        fprintf(stderr, "ubusd-sim: out of memory\n");
        exit(1);
    }
    return q;
}

static bool id_in_use(uint32_t id) {
    int i;

    for (i = 0; i < MAX_CLIENTS; i++)
        if (clients[i] && clients[i]->id == id)
            return true;
    for (i = 0; i < n_objects; i++)
        if (objects[i].id == id)
            return true;
    for (i = 0; i < n_types; i++)
        if (types[i].id == id)
            return true;
    return false;
}

/* Ids look random like the device's, and stay below 2^31 so they print as
 * positive 32-bit integers. */
uint32_t new_id(void) {
    uint32_t id;

    do {
        id_state ^= id_state << 13;
        id_state ^= id_state >> 7;
        id_state ^= id_state << 17;
        id = (uint32_t)(id_state >> 16) & 0x7fffffff;
    } while (!id || id_in_use(id));
    return id;
}

/* Only objects with a path and a known type can be looked up and called. */
static struct object *find_path(const char *path, bool typed_only) {
    int i;

    for (i = 0; i < n_objects; i++) {
        if (!objects[i].path || strcmp(objects[i].path, path) != 0)
            continue;
        if (typed_only && !objects[i].type)
            continue;
        return &objects[i];
    }
    return NULL;
}

static struct type *find_type(uint32_t id) {
    int i;

    for (i = 0; i < n_types; i++)
        if (types[i].id == id)
            return &types[i];
    return NULL;
}

/* A type lives as long as an object of it, as on the device: a client that
 * keeps adding and removing objects, or coming and going, must not grow the
 * daemon without bound. A later add with the old type id gets no type. */
static void drop_type_if_unused(uint32_t id) {
    int i;

    for (i = 0; i < n_objects; i++)
        if (objects[i].type == id)
            return;
    for (i = 0; i < n_types; i++) {
        if (types[i].id == id) {
            free(types[i].signature);
            types[i] = types[--n_types];
            return;
        }
    }
}

bool object_owner(uint32_t id, uint32_t *owner) {
    int i;

    for (i = 0; i < n_objects; i++) {
        if (objects[i].id == id) {
            *owner = objects[i].owner;
            return true;
        }
    }
    return false;
}

static void remove_object_at(int i) {
    struct object obj = objects[i];

    objects[i] = objects[--n_objects];
    /* An event handler's registrations go with its object. */
    drop_object_patterns(find_client(obj.owner), obj.id);
    drop_type_if_unused(obj.type);
    announce_object(obj.id, obj.path, false);
    free(obj.path);
    free(obj.subscribers);
}

static void handle_add_object(struct client *c, struct ubus_wire_msg *msg) {
    enum { A_NAME, A_TYPE_ID, A_SIGNATURE, __A_MAX };
    static const struct blobmsg_policy policy[__A_MAX] = {
        [A_NAME] = {.name = "name", .type = BLOBMSG_TYPE_STRING},
        [A_TYPE_ID] = {.name = "type_id", .type = BLOBMSG_TYPE_INT32},
        [A_SIGNATURE] = {.name = "signature", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__A_MAX];
    struct object obj = {0, c->id, NULL, 0, NULL, 0};
    struct blob_buf b;

    if (ubus_wire_parse(policy, __A_MAX, tb, msg) < 0) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
        return;
    }
    if (tb[A_NAME]) {
        const char *name = blobmsg_get_string(tb[A_NAME]);

        if (!*name || find_path(name, false)) {
            send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
            return;
        }
        obj.path = strdup(name);
    }

    if (tb[A_SIGNATURE]) {
        types = (struct type *)grow(types, n_types, sizeof(*types));
        types[n_types].id = new_id();
        types[n_types].signature = blob_memdup(tb[A_SIGNATURE]);
        obj.type = types[n_types].id;
        n_types++;
    } else if (tb[A_TYPE_ID] && find_type(blobmsg_get_u32(tb[A_TYPE_ID]))) {
        obj.type = blobmsg_get_u32(tb[A_TYPE_ID]);
    }
    /* An unknown type id leaves the object without a type: it exists and
     * is announced, but cannot be listed or called. */

    obj.id = new_id();
    objects = (struct object *)grow(objects, n_objects, sizeof(*objects));
    objects[n_objects++] = obj;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "type_id", obj.type);
    send_to(c, UBUS_WIRE_STATUS, msg->seq, obj.id, UBUS_STATUS_OK, b.head);
    blob_buf_free(&b);

    announce_object(obj.id, obj.path, true);
}

static void handle_remove_object(struct client *c, struct ubus_wire_msg *msg) {
    int i;

    for (i = 0; i < n_objects; i++) {
        if (objects[i].id == msg->id && objects[i].owner == c->id) {
            send_to(c, UBUS_WIRE_STATUS, msg->seq, msg->id, UBUS_STATUS_OK, NULL);
            remove_object_at(i);
            return;
        }
    }
    send_to(c, UBUS_WIRE_STATUS, msg->seq, msg->id, UBUS_STATUS_NOT_FOUND, NULL);
}

static int cmp_object_path(const void *a, const void *b) {
    const struct object *const *x = (const struct object *const *)a;
    const struct object *const *y = (const struct object *const *)b;

    return strcmp((*x)->path, (*y)->path);
}

static void handle_lookup(struct client *c, struct ubus_wire_msg *msg) {
    static const struct blobmsg_policy policy = {.name = "path", .type = BLOBMSG_TYPE_STRING};
    struct blob_attr *tb;
    const struct object **list;
    struct blob_buf b;
    void *arr;
    int i, n = 0;

    if (ubus_wire_parse(&policy, 1, &tb, msg) < 0) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
        return;
    }

    list = (const struct object **)calloc(n_objects + 1, sizeof(*list));
    if (!list)
        return;
    for (i = 0; i < n_objects; i++) {
        if (!objects[i].path || !objects[i].type)
            continue;
        if (tb && !pattern_matches(blobmsg_get_string(tb), objects[i].path))
            continue;
        list[n++] = &objects[i];
    }
    if (tb && n == 0) {
        free(list);
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_NOT_FOUND, NULL);
        return;
    }
    qsort(list, n, sizeof(*list), cmp_object_path);

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    arr = blobmsg_open_array(&b, "objects");
    for (i = 0; i < n; i++) {
        struct type *t = find_type(list[i]->type);
        void *tbl = blobmsg_open_table(&b, NULL);

        blobmsg_add_string(&b, "path", list[i]->path);
        blobmsg_add_u32(&b, "id", list[i]->id);
        ubus_wire_add_table(&b, "signature", t ? t->signature : NULL);
        blobmsg_close_table(&b, tbl);
    }
    blobmsg_close_array(&b, arr);
    free(list);

    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_OK, b.head);
    blob_buf_free(&b);
}

static void handle_invoke(struct client *c, struct ubus_wire_msg *msg) {
    enum { I_PATH, I_METHOD, I_DATA, __I_MAX };
    static const struct blobmsg_policy policy[__I_MAX] = {
        [I_PATH] = {.name = "path", .type = BLOBMSG_TYPE_STRING},
        [I_METHOD] = {.name = "method", .type = BLOBMSG_TYPE_STRING},
        [I_DATA] = {.name = "data", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__I_MAX];
    struct object *obj;
    struct client *owner;
    struct blob_buf b;

    if (ubus_wire_parse(policy, __I_MAX, tb, msg) < 0 || !tb[I_PATH] || !tb[I_METHOD]) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
        return;
    }
    obj = find_path(blobmsg_get_string(tb[I_PATH]), true);
    owner = obj ? find_client(obj->owner) : NULL;
    if (!owner) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_NOT_FOUND, NULL);
        return;
    }

    calls = (struct call *)grow(calls, n_calls, sizeof(*calls));
    calls[n_calls].seq = ++call_seq;
    calls[n_calls].owner = owner->id;
    calls[n_calls].caller = c->id;
    calls[n_calls].caller_seq = msg->seq;
    n_calls++;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "method", blobmsg_get_string(tb[I_METHOD]));
    ubus_wire_add_table(&b, "data", tb[I_DATA]);
    send_to(owner, UBUS_WIRE_INVOKE, call_seq, obj->id, 0, b.head);
    blob_buf_free(&b);
}

/* DATA and STATUS from an object's owner go back to whoever called. */
static void handle_answer(struct client *c, struct ubus_wire_msg *msg) {
    int i;

    for (i = 0; i < n_calls; i++) {
        struct call *call = &calls[i];

        if (call->seq != msg->seq || call->owner != c->id)
            continue;
        send_to(find_client(call->caller), msg->type, call->caller_seq, msg->id, msg->status,
                msg->data);
        if (msg->type == UBUS_WIRE_STATUS)
            calls[i] = calls[--n_calls];
        return;
    }
}

/* Tells an object's owner whether anyone is subscribed. */
static void notify_subscribers(const struct object *obj) {
    struct blob_buf b;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_u8(&b, "active", obj->n_subscribers > 0);
    send_to(find_client(obj->owner), UBUS_WIRE_SUBSCRIBERS, 0, obj->id, 0, b.head);
    blob_buf_free(&b);
}

static void handle_subscribe(struct client *c, struct ubus_wire_msg *msg) {
    static const struct blobmsg_policy policy = {.name = "path", .type = BLOBMSG_TYPE_STRING};
    struct blob_attr *tb;
    struct object *obj;
    int i;

    if (ubus_wire_parse(&policy, 1, &tb, msg) < 0 || !tb) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_INVALID_ARGUMENT, NULL);
        return;
    }
    obj = find_path(blobmsg_get_string(tb), true);
    if (!obj) {
        send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_NOT_FOUND, NULL);
        return;
    }
    for (i = 0; i < obj->n_subscribers; i++)
        if (obj->subscribers[i] == c->id)
            break;
    if (i == obj->n_subscribers) {
        obj->subscribers =
            (uint32_t *)grow(obj->subscribers, obj->n_subscribers, sizeof(*obj->subscribers));
        obj->subscribers[obj->n_subscribers++] = c->id;
        if (obj->n_subscribers == 1)
            notify_subscribers(obj);
    }
    send_to(c, UBUS_WIRE_STATUS, msg->seq, obj->id, UBUS_STATUS_OK, NULL);
}

/* Returns false for a client that broke the protocol. */
bool handle_msg(struct client *c, struct ubus_wire_msg *msg) {
    switch (msg->type) {
        case UBUS_WIRE_ADD_OBJECT:
            handle_add_object(c, msg);
            return true;
        case UBUS_WIRE_REMOVE_OBJECT:
            handle_remove_object(c, msg);
            return true;
        case UBUS_WIRE_EVENT:
            handle_event(c, msg);
            return true;
        case UBUS_WIRE_LISTEN:
            handle_listen(c, msg);
            return true;
        case UBUS_WIRE_LOOKUP:
            handle_lookup(c, msg);
            return true;
        case UBUS_WIRE_INVOKE:
            handle_invoke(c, msg);
            return true;
        case UBUS_WIRE_DATA:
        case UBUS_WIRE_STATUS:
            handle_answer(c, msg);
            return true;
        case UBUS_WIRE_SUBSCRIBE:
            handle_subscribe(c, msg);
            return true;
        default:
            return false;
    }
}

void seed_ids(uint64_t seed) {
    id_state = seed ? seed : 1;
}

void client_gone(struct client *c) {
    int i, j;

    for (i = 0; i < n_objects;) {
        if (objects[i].owner == c->id)
            remove_object_at(i);
        else
            i++;
    }
    for (i = 0; i < n_objects; i++) {
        struct object *obj = &objects[i];

        for (j = 0; j < obj->n_subscribers; j++) {
            if (obj->subscribers[j] != c->id)
                continue;
            obj->subscribers[j] = obj->subscribers[--obj->n_subscribers];
            if (obj->n_subscribers == 0)
                notify_subscribers(obj);
            break;
        }
    }
    /* Calls waiting on this client's objects will get no answer. */
    for (i = 0; i < n_calls;) {
        if (calls[i].owner == c->id) {
            send_to(find_client(calls[i].caller), UBUS_WIRE_STATUS, calls[i].caller_seq, 0,
                    UBUS_STATUS_NO_DATA, NULL);
            calls[i] = calls[--n_calls];
        } else if (calls[i].caller == c->id) {
            calls[i] = calls[--n_calls];
        } else {
            i++;
        }
    }
}
