/*
 * libubus.h - system bus client library
 *
 * Unlike the libubox headers, this one carries its own extern "C" guard.
 */
#ifndef __LIBUBUS_H
#define __LIBUBUS_H

#ifdef __cplusplus
extern "C" {
#endif

#include <libubox/avl.h>
#include <libubox/blob.h>
#include <libubox/blobmsg.h>
#include <libubox/list.h>
#include <libubox/uloop.h>
#include <stdint.h>

#define UBUS_MAX_NOTIFY_PEERS 16

struct ubus_context;
struct ubus_msg_src;
struct ubus_object;
struct ubus_request;
struct ubus_request_data;
struct ubus_object_data;
struct ubus_event_handler;
struct ubus_subscriber;
struct ubus_notify_request;

/* Attribute ids of the bus message; a method handler's msg carries UBUS_ATTR_DATA. */
enum ubus_msg_attr {
    UBUS_ATTR_UNSPEC,
    UBUS_ATTR_STATUS,
    UBUS_ATTR_OBJPATH,
    UBUS_ATTR_OBJID,
    UBUS_ATTR_METHOD,
    UBUS_ATTR_OBJTYPE,
    UBUS_ATTR_SIGNATURE,
    UBUS_ATTR_DATA,
    UBUS_ATTR_TARGET,
    UBUS_ATTR_ACTIVE,
    UBUS_ATTR_NO_REPLY,
    UBUS_ATTR_SUBSCRIBERS,
    UBUS_ATTR_USER,
    UBUS_ATTR_GROUP,
    UBUS_ATTR_MAX,
};

enum ubus_msg_status {
    UBUS_STATUS_OK,
    UBUS_STATUS_INVALID_COMMAND,
    UBUS_STATUS_INVALID_ARGUMENT,
    UBUS_STATUS_METHOD_NOT_FOUND,
    UBUS_STATUS_NOT_FOUND,
    UBUS_STATUS_NO_DATA,
    UBUS_STATUS_PERMISSION_DENIED,
    UBUS_STATUS_TIMEOUT,
    UBUS_STATUS_NOT_SUPPORTED,
    UBUS_STATUS_UNKNOWN_ERROR,
    UBUS_STATUS_CONNECTION_FAILED,
    UBUS_STATUS_NO_MEMORY,
    UBUS_STATUS_PARSE_ERROR,
    UBUS_STATUS_SYSTEM_ERROR,
    __UBUS_STATUS_LAST
};

typedef int (*ubus_handler_t)(struct ubus_context *ctx, struct ubus_object *obj,
                              struct ubus_request_data *req, const char *method,
                              struct blob_attr *msg);
typedef void (*ubus_state_handler_t)(struct ubus_context *ctx, struct ubus_object *obj);
typedef void (*ubus_connect_handler_t)(struct ubus_context *ctx);
typedef void (*ubus_event_handler_t)(struct ubus_context *ctx, struct ubus_event_handler *ev,
                                     const char *type, struct blob_attr *msg);

struct ubus_method {
    const char *name;
    ubus_handler_t handler;

    unsigned long mask;
    unsigned long tags;
    const struct blobmsg_policy *policy;
    int n_policy;
};

struct ubus_object_type {
    const char *name;
    uint32_t id;

    const struct ubus_method *methods;
    int n_methods;
};

struct ubus_object {
    struct avl_node avl;

    const char *name;
    uint32_t id;

    const char *path;
    struct ubus_object_type *type;

    ubus_state_handler_t subscribe_cb;
    bool has_subscribers;

    const struct ubus_method *methods;
    int n_methods;
};

/* A listener for bus events: an anonymous object of its own, added by the
 * first registration. The object's id is non-zero once added; on a new
 * connection reset it to 0 before registering again. */
struct ubus_event_handler {
    struct ubus_object obj;

    ubus_event_handler_t cb;
};

struct ubus_request_data {
    uint32_t object;
    uint32_t peer;
    uint32_t seq;

    /* internal */
    bool deferred;
    int fd;
};

/* Frames received while a synchronous call waits for its answer. */
struct ubus_pending_msg;
struct ubus_wire_rx;

struct ubus_context {
    struct list_head requests;
    struct list_head objects;
    struct list_head pending;

    struct uloop_fd sock;
    struct uloop_timeout pending_timer;

    uint32_t local_id;
    uint32_t request_seq;
    bool cancel_poll;
    int stack_depth;

    void (*connection_lost)(struct ubus_context *ctx);

    /* receive buffer of the stream socket (internal) */
    struct ubus_wire_rx *rx;
};

#define UBUS_OBJECT_TYPE(_name, _methods) \
    { .name = _name, .id = 0, .methods = _methods, .n_methods = ARRAY_SIZE(_methods) }

#define __UBUS_METHOD_BASE(_name, _handler, _mask, _tags) \
    .name = _name, .handler = _handler, .mask = _mask, .tags = _tags

#define UBUS_METHOD(_name, _handler, _policy)                                        \
    {                                                                                \
        .name = _name, .handler = _handler, .mask = 0, .tags = 0, .policy = _policy, \
        .n_policy = ARRAY_SIZE(_policy)                                              \
    }

#define UBUS_METHOD_MASK(_name, _handler, _policy, _mask)                                \
    {                                                                                    \
        .name = _name, .handler = _handler, .mask = _mask, .tags = 0, .policy = _policy, \
        .n_policy = ARRAY_SIZE(_policy)                                                  \
    }

#define UBUS_METHOD_NOARG(_name, _handler) \
    { .name = _name, .handler = _handler, .mask = 0, .tags = 0, .policy = NULL, .n_policy = 0 }

/* Connects and handshakes (blocking); NULL on failure. A NULL path means the
 * system bus socket "/var/run/ubus/ubus.sock". Calls uloop_init(). */
struct ubus_context *ubus_connect(const char *path);
void ubus_free(struct ubus_context *ctx);

const char *ubus_strerror(int error);

static inline void ubus_add_uloop(struct ubus_context *ctx) {
    uloop_fd_add(&ctx->sock, ULOOP_BLOCKING | ULOOP_READ);
}

/* Reads and dispatches whatever the bus has sent. */
static inline void ubus_handle_event(struct ubus_context *ctx) {
    ctx->sock.cb(&ctx->sock, ULOOP_READ);
}

int ubus_add_object(struct ubus_context *ctx, struct ubus_object *obj);
int ubus_remove_object(struct ubus_context *ctx, struct ubus_object *obj);

/* Reply body for a call being handled; the handler's return value is the status. */
int ubus_send_reply(struct ubus_context *ctx, struct ubus_request_data *req, struct blob_attr *msg);

int ubus_send_event(struct ubus_context *ctx, const char *id, struct blob_attr *data);

/* Calls EV->cb for every event whose type matches PATTERN (the exact type, or
 * a prefix when it ends in '*'); msg is a UBUS_ATTR_DATA attribute holding the
 * event's fields. Adds EV's object first unless its id is set (an id left from
 * an earlier connection is refused by the bus: UBUS_STATUS_NOT_FOUND, or
 * UBUS_STATUS_PERMISSION_DENIED when another client owns that id now). */
int ubus_register_event_handler(struct ubus_context *ctx, struct ubus_event_handler *ev,
                                const char *pattern);

static inline int ubus_unregister_event_handler(struct ubus_context *ctx,
                                                struct ubus_event_handler *ev) {
    return ubus_remove_object(ctx, &ev->obj);
}

/* The id of the object at PATH: 0 and *id, or UBUS_STATUS_NOT_FOUND. */
int ubus_lookup_id(struct ubus_context *ctx, const char *path, uint32_t *id);

#ifdef __cplusplus
}
#endif

#endif
