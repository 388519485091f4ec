/*
 * ubus_wire.h - the host bus protocol between libubus, ubusd-sim and ubus-sim
 *
 * A stream of frames over a Unix stream socket. Every frame starts with a
 * 20-byte header of big-endian fields:
 *
 *   u32 len     whole frame, header included
 *   u16 type    enum ubus_wire_type
 *   u16 flags   zero
 *   u32 seq     request number chosen by the sender of a request, echoed
 *               by the DATA/STATUS frames that answer it
 *   u32 id      object id (client id in HELLO)
 *   i32 status  enum ubus_msg_status in STATUS frames, else zero
 *
 * followed by an optional payload: one plain (non-extended) blob attribute,
 * id 0, whose children are named blobmsg fields. Lengths are limited and
 * payloads checked before use, so a peer sending garbage is simply dropped.
 */
#ifndef UBUS_WIRE_H
#define UBUS_WIRE_H

#include <libubox/blobmsg.h>
#include <stdbool.h>
#include <stdint.h>

#define UBUS_WIRE_HDR_LEN 20u
#define UBUS_WIRE_MAX_FRAME (1024u * 1024u)

enum ubus_wire_type {
    UBUS_WIRE_HELLO = 1,     /* daemon -> client: id = client id */
    UBUS_WIRE_STATUS,        /* answer to a request, ends it */
    UBUS_WIRE_DATA,          /* reply body of a call: {"data": table} */
    UBUS_WIRE_ADD_OBJECT,    /* {"name", "type_id" | "signature"} -> id, {"type_id"} */
    UBUS_WIRE_REMOVE_OBJECT, /* id */
    UBUS_WIRE_LOOKUP,        /* {"path"?} -> {"objects": [{"path","id","signature"}]} */
    UBUS_WIRE_INVOKE,        /* client -> daemon {"path","method","data"};
                                daemon -> owner id, {"method","data"} */
    UBUS_WIRE_EVENT,         /* {"type","data"}, both directions; towards a
                                listener id = its event handler object, or 0 */
    UBUS_WIRE_LISTEN,        /* {"pattern", "object"?}: for the client, or
                                for one of its event handler objects */
    UBUS_WIRE_SUBSCRIBERS,   /* daemon -> owner: id, {"active": bool} */
    UBUS_WIRE_SUBSCRIBE,     /* client -> daemon {"path"} */
    __UBUS_WIRE_LAST
};

struct ubus_wire_msg {
    uint16_t type;
    uint32_t seq;
    uint32_t id;
    int32_t status;
    /* Root attribute of the payload, or NULL; points into frame. */
    struct blob_attr *data;
    char *frame;
};

/* Receive buffer of one stream socket. */
struct ubus_wire_rx {
    char *buf;
    uint32_t len;
    uint32_t size;
};

/* Writes one frame; waits up to timeout_ms (-1: no limit) for room.
 * Returns 0 or -1. */
int ubus_wire_send(int fd, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
                   const struct blob_attr *payload, int timeout_ms);

/* Reads what the socket has (it is non-blocking). Returns 1 if bytes came,
 * 0 if nothing was waiting, -1 on end of stream or a read error. */
int ubus_wire_fill(int fd, struct ubus_wire_rx *rx);

/* Takes the next complete frame out of rx. Returns 1 and fills msg (free it
 * with ubus_wire_msg_free), 0 if no complete frame is there yet, -1 if the
 * bytes are not a valid frame. */
int ubus_wire_next(struct ubus_wire_rx *rx, struct ubus_wire_msg *msg);

void ubus_wire_msg_free(struct ubus_wire_msg *msg);
void ubus_wire_rx_free(struct ubus_wire_rx *rx);

/* Connects to path and waits for the HELLO (up to timeout_ms). Returns the
 * socket (non-blocking) and stores the client id, or -1. */
int ubus_wire_connect(const char *path, uint32_t *client_id, int timeout_ms);

/* Blocks until one frame arrives (up to timeout_ms, -1: no limit).
 * Returns 1 with msg filled, 0 on timeout, -1 if the connection is gone. */
int ubus_wire_recv(int fd, struct ubus_wire_rx *rx, struct ubus_wire_msg *msg, int timeout_ms);

/* Fields of a payload: blobmsg_parse over the root's children. */
int ubus_wire_parse(const struct blobmsg_policy *policy, int n, struct blob_attr **tb,
                    const struct ubus_wire_msg *msg);

/* Appends a table field named name holding a copy of the children of attr
 * (a root or a table); an empty table when attr is NULL. */
int ubus_wire_add_table(struct blob_buf *b, const char *name, const struct blob_attr *attr);

#endif
