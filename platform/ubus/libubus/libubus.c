/*
 * libubus.c - bus client: connection, objects, calls, events
 *
 * Requests made by the application (adding/removing objects, sending events)
 * are synchronous: the frame goes out and the socket is polled here until the
 * daemon's answer comes, with no time limit. Whatever else arrives meanwhile
 * (calls for our objects) is queued and served from a 1 ms uloop timer, so a
 * method handler never runs inside another request.
 */
#define _GNU_SOURCE
#include "libubus.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "ubus_wire.h"

#define UBUS_UNIX_SOCKET "/var/run/ubus/ubus.sock"

/* How long ubus_connect waits for the daemon's greeting. */
#define UBUS_HELLO_TIMEOUT_MS 10000

struct ubus_pending_msg {
    struct list_head list;
    struct ubus_wire_msg msg;
};

static const char *const __ubus_strerror[__UBUS_STATUS_LAST] = {
    [UBUS_STATUS_OK] = "Success",
    [UBUS_STATUS_INVALID_COMMAND] = "Invalid command",
    [UBUS_STATUS_INVALID_ARGUMENT] = "Invalid argument",
    [UBUS_STATUS_METHOD_NOT_FOUND] = "Method not found",
    [UBUS_STATUS_NOT_FOUND] = "Not found",
    [UBUS_STATUS_NO_DATA] = "No response",
    [UBUS_STATUS_PERMISSION_DENIED] = "Permission denied",
    [UBUS_STATUS_TIMEOUT] = "Request timed out",
    [UBUS_STATUS_NOT_SUPPORTED] = "Operation not supported",
    [UBUS_STATUS_UNKNOWN_ERROR] = "Unknown error",
    [UBUS_STATUS_CONNECTION_FAILED] = "Connection failed",
    [UBUS_STATUS_NO_MEMORY] = "Out of memory",
    [UBUS_STATUS_PARSE_ERROR] = "Parsing message data failed",
    [UBUS_STATUS_SYSTEM_ERROR] = "System error",
};

const char *ubus_strerror(int error) {
    static char err[32];

    if (error < 0 || error >= __UBUS_STATUS_LAST)
        goto out;
    if (!__ubus_strerror[error])
        goto out;
    return __ubus_strerror[error];

out:
    snprintf(err, sizeof(err), "Unknown error: %d", error);
    return err;
}

static void ubus_queue_msg(struct ubus_context *ctx, struct ubus_wire_msg *msg) {
    struct ubus_pending_msg *p = (struct ubus_pending_msg *)calloc(1, sizeof(*p));

    if (!p) {
        ubus_wire_msg_free(msg);
        return;
    }
    p->msg = *msg;
    list_add_tail(&p->list, &ctx->pending);
}

/* Moves every complete frame that has arrived into the queue. Returns -1 when
 * the connection is gone or the daemon sent something that is not a frame. */
static int ubus_read_frames(struct ubus_context *ctx) {
    struct ubus_wire_msg msg;
    int fill = ubus_wire_fill(ctx->sock.fd, ctx->rx);
    int r;

    while ((r = ubus_wire_next(ctx->rx, &msg)) == 1)
        ubus_queue_msg(ctx, &msg);

    if (fill < 0 || r < 0)
        return -1;
    return 0;
}

static void ubus_free_pending(struct ubus_context *ctx) {
    while (!list_empty(&ctx->pending)) {
        struct ubus_pending_msg *p = list_first_entry(&ctx->pending, struct ubus_pending_msg, list);

        list_del(&p->list);
        ubus_wire_msg_free(&p->msg);
        free(p);
    }
}

static struct ubus_object *ubus_find_object(struct ubus_context *ctx, uint32_t id) {
    struct list_head *p;

    list_for_each(p, &ctx->objects) {
        struct ubus_object *obj = container_of(p, struct ubus_object, avl.list);

        if (obj->id == id)
            return obj;
    }
    return NULL;
}

static bool ubus_has_object(struct ubus_context *ctx, struct ubus_object *obj) {
    struct list_head *p;

    list_for_each(p, &ctx->objects) {
        if (p == &obj->avl.list)
            return true;
    }
    return false;
}

/* Runs OBJ's method METHOD (a method without a name takes every one) with the
 * caller's fields DATA (a table, or NULL): the handler's return value. The
 * handler sees a plain UBUS_ATTR_DATA attribute holding those fields; no
 * policy is enforced on them. */
static int ubus_dispatch(struct ubus_context *ctx, struct ubus_object *obj,
                         struct ubus_request_data *req, const char *method,
                         struct blob_attr *data) {
    struct blob_buf b;
    int status = UBUS_STATUS_OK;
    int i;

    for (i = 0; i < obj->n_methods; i++) {
        if (!obj->methods[i].name || !strcmp(obj->methods[i].name, method))
            break;
    }
    if (i == obj->n_methods)
        return UBUS_STATUS_METHOD_NOT_FOUND;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, UBUS_ATTR_DATA);
    if (data) {
        struct blob_attr *cur;
        size_t rem;

        blobmsg_for_each_attr(cur, data, rem) blob_put_raw(&b, cur, blob_raw_len(cur));
    }
    if (obj->methods[i].handler)
        status = obj->methods[i].handler(ctx, obj, req, method, b.head);
    blob_buf_free(&b);
    return status;
}

/* A call for one of our objects: the handler's return value is the status. */
static void ubus_process_invoke(struct ubus_context *ctx, struct ubus_wire_msg *msg) {
    enum { INV_METHOD, INV_DATA, __INV_MAX };
    static const struct blobmsg_policy policy[__INV_MAX] = {
        [INV_METHOD] = {.name = "method", .type = BLOBMSG_TYPE_STRING},
        [INV_DATA] = {.name = "data", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__INV_MAX];
    struct ubus_request_data req;
    struct ubus_object *obj;
    int status = UBUS_STATUS_INVALID_ARGUMENT;

    memset(&req, 0, sizeof(req));
    req.object = msg->id;
    req.seq = msg->seq;
    req.fd = -1;

    obj = ubus_find_object(ctx, msg->id);
    if (!obj)
        status = UBUS_STATUS_NOT_FOUND;
    else if (ubus_wire_parse(policy, __INV_MAX, tb, msg) == 0 && tb[INV_METHOD])
        status = ubus_dispatch(ctx, obj, &req, blobmsg_get_string(tb[INV_METHOD]), tb[INV_DATA]);

    if (!req.deferred)
        ubus_wire_send(ctx->sock.fd, UBUS_WIRE_STATUS, msg->seq, msg->id, status, NULL, -1);
}

/* An event for one of our event handlers (the frame's id is its object):
 * the event's type is the method; nothing goes back. */
static void ubus_process_event(struct ubus_context *ctx, struct ubus_wire_msg *msg) {
    enum { EV_TYPE, EV_DATA, __EV_MAX };
    static const struct blobmsg_policy policy[__EV_MAX] = {
        [EV_TYPE] = {.name = "type", .type = BLOBMSG_TYPE_STRING},
        [EV_DATA] = {.name = "data", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__EV_MAX];
    struct ubus_object *obj = msg->id ? ubus_find_object(ctx, msg->id) : NULL;

    if (obj && ubus_wire_parse(policy, __EV_MAX, tb, msg) == 0 && tb[EV_TYPE])
        ubus_dispatch(ctx, obj, NULL, blobmsg_get_string(tb[EV_TYPE]), tb[EV_DATA]);
}

static void ubus_process_subscribers(struct ubus_context *ctx, struct ubus_wire_msg *msg) {
    static const struct blobmsg_policy policy = {.name = "active", .type = BLOBMSG_TYPE_INT8};
    struct blob_attr *tb;
    struct ubus_object *obj = ubus_find_object(ctx, msg->id);

    if (!obj || ubus_wire_parse(&policy, 1, &tb, msg) < 0 || !tb)
        return;
    obj->has_subscribers = blobmsg_get_bool(tb);
    if (obj->subscribe_cb)
        obj->subscribe_cb(ctx, obj);
}

static void ubus_process_msg(struct ubus_context *ctx, struct ubus_wire_msg *msg) {
    switch (msg->type) {
        case UBUS_WIRE_INVOKE:
            ubus_process_invoke(ctx, msg);
            break;
        case UBUS_WIRE_SUBSCRIBERS:
            ubus_process_subscribers(ctx, msg);
            break;
        case UBUS_WIRE_EVENT:
            ubus_process_event(ctx, msg);
            break;
        default:
            /* Late answers to requests that are over: nothing to do. */
            break;
    }
}

static void ubus_process_pending(struct ubus_context *ctx) {
    while (ctx->stack_depth == 0 && !list_empty(&ctx->pending)) {
        struct ubus_pending_msg *p = list_first_entry(&ctx->pending, struct ubus_pending_msg, list);

        list_del(&p->list);
        ubus_process_msg(ctx, &p->msg);
        ubus_wire_msg_free(&p->msg);
        free(p);
    }
}

static void ubus_process_pending_timer(struct uloop_timeout *t) {
    struct ubus_context *ctx = container_of(t, struct ubus_context, pending_timer);

    ubus_process_pending(ctx);
}

static void ubus_handle_data(struct uloop_fd *u, unsigned int events) {
    struct ubus_context *ctx = container_of(u, struct ubus_context, sock);

    (void)events;
    if (ubus_read_frames(ctx) < 0)
        u->eof = true;

    ubus_process_pending(ctx);

    if (u->eof || u->error)
        ctx->connection_lost(ctx);
}

/* Ends the loop only while the socket is still in it; after a hang-up uloop
 * has already taken it out, so a running loop goes on without the bus. */
static void ubus_default_connection_lost(struct ubus_context *ctx) {
    if (ctx->sock.registered)
        uloop_end();
}

/* Sends one request and waits for its STATUS; a reply payload is handed
 * back in reply (free it with ubus_wire_msg_free) when asked for. */
static int ubus_sync_request(struct ubus_context *ctx, uint16_t type, uint32_t id,
                             const struct blob_attr *payload, struct ubus_wire_msg *reply) {
    uint32_t seq = ++ctx->request_seq;
    int status = UBUS_STATUS_CONNECTION_FAILED;
    bool done = false;

    if (reply)
        memset(reply, 0, sizeof(*reply));

    if (ubus_wire_send(ctx->sock.fd, type, seq, id, 0, payload, -1) < 0)
        return UBUS_STATUS_INVALID_ARGUMENT;

    ctx->stack_depth++;
    while (!done) {
        struct pollfd pfd = {.fd = ctx->sock.fd, .events = POLLIN, .revents = 0};
        struct list_head *p, *n;
        int gone;

        /* The answer may be queued already. */
        list_for_each_safe(p, n, &ctx->pending) {
            struct ubus_pending_msg *m = container_of(p, struct ubus_pending_msg, list);

            if (m->msg.type != UBUS_WIRE_STATUS || m->msg.seq != seq)
                continue;
            list_del(&m->list);
            status = m->msg.status;
            if (reply)
                *reply = m->msg;
            else
                ubus_wire_msg_free(&m->msg);
            free(m);
            done = true;
            break;
        }
        if (done)
            break;

        if (poll(&pfd, 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        gone = ubus_read_frames(ctx);
        if (gone < 0) {
            /* Answers that made it before the end still count. */
            list_for_each_safe(p, n, &ctx->pending) {
                struct ubus_pending_msg *m = container_of(p, struct ubus_pending_msg, list);

                if (m->msg.type == UBUS_WIRE_STATUS && m->msg.seq == seq)
                    goto next;
            }
            break;
        }
    next:;
    }
    ctx->stack_depth--;

    if (!list_empty(&ctx->pending) && ctx->stack_depth == 0)
        uloop_timeout_set(&ctx->pending_timer, 1);

    return status;
}

struct ubus_context *ubus_connect(const char *path) {
    struct ubus_context *ctx;
    uint32_t id;
    int fd;

    uloop_init();

    if (!path)
        path = UBUS_UNIX_SOCKET;

    fd = ubus_wire_connect(path, &id, UBUS_HELLO_TIMEOUT_MS);
    if (fd < 0)
        return NULL;

    ctx = (struct ubus_context *)calloc(1, sizeof(*ctx));
    if (ctx)
        ctx->rx = (struct ubus_wire_rx *)calloc(1, sizeof(*ctx->rx));
    if (!ctx || !ctx->rx) {
        free(ctx);
        close(fd);
        return NULL;
    }
    INIT_LIST_HEAD(&ctx->requests);
    INIT_LIST_HEAD(&ctx->objects);
    INIT_LIST_HEAD(&ctx->pending);
    ctx->sock.fd = fd;
    ctx->sock.cb = ubus_handle_data;
    ctx->pending_timer.cb = ubus_process_pending_timer;
    ctx->local_id = id;
    ctx->connection_lost = ubus_default_connection_lost;
    return ctx;
}

void ubus_free(struct ubus_context *ctx) {
    if (!ctx)
        return;

    uloop_fd_delete(&ctx->sock);
    uloop_timeout_cancel(&ctx->pending_timer);
    close(ctx->sock.fd);
    ubus_free_pending(ctx);
    ubus_wire_rx_free(ctx->rx);
    free(ctx->rx);
    free(ctx);
}

/* The method signature: per method a table of argument name -> blobmsg type. */
static int ubus_add_signature(struct blob_buf *b, const struct ubus_object_type *type) {
    void *sig = blobmsg_open_table(b, "signature");
    int i, j;

    if (!sig)
        return -1;
    for (i = 0; i < type->n_methods; i++) {
        const struct ubus_method *m = &type->methods[i];
        void *tbl;

        if (!m->name)
            continue;
        tbl = blobmsg_open_table(b, m->name);
        if (!tbl)
            return -1;
        for (j = 0; j < m->n_policy; j++) {
            if (!m->policy[j].name)
                continue;
            blobmsg_add_u32(b, m->policy[j].name, m->policy[j].type);
        }
        blobmsg_close_table(b, tbl);
    }
    blobmsg_close_table(b, sig);
    return 0;
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj) {
    static const struct blobmsg_policy policy = {.name = "type_id", .type = BLOBMSG_TYPE_INT32};
    struct ubus_wire_msg reply;
    struct blob_attr *tb;
    struct blob_buf b;
    int ret;

    if (ubus_has_object(ctx, obj))
        return UBUS_STATUS_INVALID_ARGUMENT;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    if (obj->name && obj->type) {
        blobmsg_add_string(&b, "name", obj->name);
        /* A known type goes by its id alone: a daemon that has never seen it
         * creates the object without a type. */
        if (obj->type->id)
            blobmsg_add_u32(&b, "type_id", obj->type->id);
        else if (ubus_add_signature(&b, obj->type) < 0) {
            blob_buf_free(&b);
            return UBUS_STATUS_NO_MEMORY;
        }
    }

    ret = ubus_sync_request(ctx, UBUS_WIRE_ADD_OBJECT, 0, b.head, &reply);
    blob_buf_free(&b);
    if (ret != UBUS_STATUS_OK) {
        ubus_wire_msg_free(&reply);
        return ret;
    }

    obj->id = reply.id;
    if (obj->type && ubus_wire_parse(&policy, 1, &tb, &reply) == 0 && tb)
        obj->type->id = blobmsg_get_u32(tb);
    ubus_wire_msg_free(&reply);

    list_add_tail(&obj->avl.list, &ctx->objects);
    return 0;
}

int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj) {
    int ret = ubus_sync_request(ctx, UBUS_WIRE_REMOVE_OBJECT, obj->id, NULL, NULL);

    if (ret != UBUS_STATUS_OK)
        return ret;

    if (ubus_has_object(ctx, obj))
        list_del(&obj->avl.list);
    obj->id = 0;
    return 0;
}

int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req,
                    struct blob_attr *msg) {
    struct blob_buf b;
    int ret;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    if (ubus_wire_add_table(&b, "data", msg) < 0) {
        blob_buf_free(&b);
        return UBUS_STATUS_NO_MEMORY;
    }
    ret = ubus_wire_send(ctx->sock.fd, UBUS_WIRE_DATA, req->seq, req->object, 0, b.head, -1);
    blob_buf_free(&b);
    return ret < 0 ? UBUS_STATUS_NO_DATA : 0;
}

int ubus_send_event(struct ubus_context *ctx, const char *id, struct blob_attr *data) {
    struct blob_buf b;
    int ret;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    if (blobmsg_add_string(&b, "type", id) < 0 || ubus_wire_add_table(&b, "data", data) < 0) {
        blob_buf_free(&b);
        return UBUS_STATUS_NO_MEMORY;
    }
    ret = ubus_sync_request(ctx, UBUS_WIRE_EVENT, 0, b.head, NULL);
    blob_buf_free(&b);
    return ret;
}

static int ubus_event_cb(struct ubus_context *ctx, struct ubus_object *obj,
                         struct ubus_request_data *req, const char *method, struct blob_attr *msg) {
    struct ubus_event_handler *ev = container_of(obj, struct ubus_event_handler, obj);

    (void)req;
    ev->cb(ctx, ev, method, msg);
    return 0;
}

/* One method without a name: it takes every event type. */
static const struct ubus_method event_method = {.name = NULL, .handler = ubus_event_cb};

int ubus_register_event_handler(struct ubus_context *ctx, struct ubus_event_handler *ev,
                                const char *pattern) {
    struct ubus_object *obj = &ev->obj;
    struct blob_buf b;
    int ret;

    if (!pattern)
        return UBUS_STATUS_INVALID_ARGUMENT;
    /* Only the first registration adds the object: a stale id is sent as is. */
    if (!obj->id) {
        obj->methods = &event_method;
        obj->n_methods = 1;
        if (!!obj->name ^ !!obj->type)
            return UBUS_STATUS_INVALID_ARGUMENT;
        ret = ubus_add_object(ctx, obj);
        if (ret)
            return ret;
    }

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "object", obj->id);
    blobmsg_add_string(&b, "pattern", pattern);
    ret = ubus_sync_request(ctx, UBUS_WIRE_LISTEN, 0, b.head, NULL);
    blob_buf_free(&b);
    return ret;
}

int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id) {
    enum { L_OBJECTS, __L_MAX };
    static const struct blobmsg_policy policy[__L_MAX] = {
        [L_OBJECTS] = {.name = "objects", .type = BLOBMSG_TYPE_ARRAY},
    };
    static const struct blobmsg_policy id_policy = {.name = "id", .type = BLOBMSG_TYPE_INT32};
    struct ubus_wire_msg reply;
    struct blob_attr *tb[__L_MAX], *obj, *found = NULL;
    struct blob_buf b;
    size_t rem;
    int ret;

    if (!path)
        return UBUS_STATUS_INVALID_ARGUMENT;
    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "path", path);
    ret = ubus_sync_request(ctx, UBUS_WIRE_LOOKUP, 0, b.head, &reply);
    blob_buf_free(&b);
    if (ret == UBUS_STATUS_OK && ubus_wire_parse(policy, __L_MAX, tb, &reply) == 0 &&
        tb[L_OBJECTS]) {
        blobmsg_for_each_attr(obj, tb[L_OBJECTS], rem) {
            struct blob_attr *at;

            if (!found &&
                blobmsg_parse(&id_policy, 1, &at, blobmsg_data(obj), blobmsg_data_len(obj)) == 0 &&
                at)
                found = at;
        }
    }
    if (ret == UBUS_STATUS_OK && found)
        *id = blobmsg_get_u32(found);
    else if (ret == UBUS_STATUS_OK)
        ret = UBUS_STATUS_NOT_FOUND;
    ubus_wire_msg_free(&reply);
    return ret;
}
