/*
 * ubus_wire.c - framing, checking and socket helpers of the host bus protocol
 */
#define _GNU_SOURCE
#include "ubus_wire.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

static void put_be32(char *p, uint32_t v) {
    v = cpu_to_be32(v);
    memcpy(p, &v, 4);
}

static void put_be16(char *p, uint16_t v) {
    v = cpu_to_be16(v);
    memcpy(p, &v, 2);
}

static uint32_t get_be32(const char *p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return be32_to_cpu(v);
}

static uint16_t get_be16(const char *p) {
    uint16_t v;
    memcpy(&v, p, 2);
    return be16_to_cpu(v);
}

static int64_t now_ms(void) {
    struct timespec ts;

    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

/* Time left until deadline (-1: none), for poll. */
static int remaining_ms(int64_t deadline) {
    int64_t left;

    if (deadline < 0)
        return -1;
    left = deadline - now_ms();
    return left < 0 ? 0 : (int)left;
}

int ubus_wire_send(int fd, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
                   const struct blob_attr *payload, int timeout_ms) {
    char hdr[UBUS_WIRE_HDR_LEN];
    size_t plen = payload ? blob_pad_len(payload) : 0;
    size_t total = UBUS_WIRE_HDR_LEN + plen;
    size_t done = 0;
    int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;

    if (fd < 0 || total > UBUS_WIRE_MAX_FRAME)
        return -1;

    put_be32(hdr, total);
    put_be16(hdr + 4, type);
    put_be16(hdr + 6, 0);
    put_be32(hdr + 8, seq);
    put_be32(hdr + 12, id);
    put_be32(hdr + 16, (uint32_t)status);

    while (done < total) {
        struct iovec iov[2];
        struct msghdr mh;
        int n = 0;
        ssize_t w;

        if (done < UBUS_WIRE_HDR_LEN) {
            iov[n].iov_base = hdr + done;
            iov[n].iov_len = UBUS_WIRE_HDR_LEN - done;
            n++;
            if (plen) {
                iov[n].iov_base = (void *)payload;
                iov[n].iov_len = plen;
                n++;
            }
        } else {
            iov[n].iov_base = (char *)payload + (done - UBUS_WIRE_HDR_LEN);
            iov[n].iov_len = total - done;
            n++;
        }
        memset(&mh, 0, sizeof(mh));
        mh.msg_iov = iov;
        mh.msg_iovlen = n;

        w = sendmsg(fd, &mh, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            done += w;
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            struct pollfd pfd = {.fd = fd, .events = POLLOUT, .revents = 0};
            int r = poll(&pfd, 1, remaining_ms(deadline));

            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0 || (pfd.revents & (POLLERR | POLLHUP)))
                return -1;
            continue;
        }
        return -1;
    }
    return 0;
}

int ubus_wire_fill(int fd, struct ubus_wire_rx *rx) {
    int got = 0;

    for (;;) {
        ssize_t r;

        if (rx->size - rx->len < 4096) {
            uint32_t size = rx->size ? rx->size * 2 : 8192;
            char *p;

            /* Never more than one maximal frame plus a read's worth. */
            if (size > UBUS_WIRE_MAX_FRAME + 8192)
                size = UBUS_WIRE_MAX_FRAME + 8192;
            if (size <= rx->len)
                return got;
            p = (char *)realloc(rx->buf, size);
            if (!p)
                return -1;
            rx->buf = p;
            rx->size = size;
        }

        r = read(fd, rx->buf + rx->len, rx->size - rx->len);
        if (r > 0) {
            rx->len += r;
            got = 1;
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return got;
        /* End of stream or error. Frames already buffered are still
         * delivered by ubus_wire_next. */
        return -1;
    }
}

/* The payload must be exactly one plain root attribute of named fields. */
static bool payload_valid(const char *p, uint32_t len) {
    const struct blob_attr *root = (const struct blob_attr *)p;
    const char *c;
    size_t rem;

    if (len < sizeof(struct blob_attr))
        return false;
    if (blob_is_extended(root) || blob_id(root) != 0)
        return false;
    /* A length below the header's own would make the data's length wrap. */
    if (blob_raw_len(root) < sizeof(struct blob_attr) || blob_raw_len(root) > len ||
        blob_pad_len(root) != len)
        return false;

    c = (const char *)blob_data(root);
    rem = blob_len(root);
    while (rem > 0) {
        const struct blob_attr *a = (const struct blob_attr *)c;
        size_t pad;

        if (!blobmsg_check_attr_len(a, true, rem))
            return false;
        pad = blob_pad_len(a);
        if (pad > rem)
            pad = rem;
        c += pad;
        rem -= pad;
    }
    return true;
}

int ubus_wire_next(struct ubus_wire_rx *rx, struct ubus_wire_msg *msg) {
    uint32_t len;
    uint16_t type;
    char *frame;

    memset(msg, 0, sizeof(*msg));
    if (rx->len < UBUS_WIRE_HDR_LEN)
        return 0;

    len = get_be32(rx->buf);
    type = get_be16(rx->buf + 4);
    if (len < UBUS_WIRE_HDR_LEN || len > UBUS_WIRE_MAX_FRAME)
        return -1;
    if (type == 0 || type >= __UBUS_WIRE_LAST || get_be16(rx->buf + 6) != 0)
        return -1;
    if (rx->len < len)
        return 0;
    if (len > UBUS_WIRE_HDR_LEN &&
        !payload_valid(rx->buf + UBUS_WIRE_HDR_LEN, len - UBUS_WIRE_HDR_LEN))
        return -1;

    frame = (char *)malloc(len);
    if (!frame)
        return -1;
    memcpy(frame, rx->buf, len);
    memmove(rx->buf, rx->buf + len, rx->len - len);
    rx->len -= len;

    msg->frame = frame;
    msg->type = type;
    msg->seq = get_be32(frame + 8);
    msg->id = get_be32(frame + 12);
    msg->status = (int32_t)get_be32(frame + 16);
    msg->data = len > UBUS_WIRE_HDR_LEN ? (struct blob_attr *)(frame + UBUS_WIRE_HDR_LEN) : NULL;
    return 1;
}

void ubus_wire_msg_free(struct ubus_wire_msg *msg) {
    free(msg->frame);
    msg->frame = NULL;
    msg->data = NULL;
}

void ubus_wire_rx_free(struct ubus_wire_rx *rx) {
    free(rx->buf);
    rx->buf = NULL;
    rx->len = rx->size = 0;
}

int ubus_wire_recv(int fd, struct ubus_wire_rx *rx, struct ubus_wire_msg *msg, int timeout_ms) {
    int64_t deadline = timeout_ms < 0 ? -1 : now_ms() + timeout_ms;

    for (;;) {
        struct pollfd pfd = {.fd = fd, .events = POLLIN, .revents = 0};
        int r = ubus_wire_next(rx, msg);

        if (r != 0)
            return r;

        r = poll(&pfd, 1, remaining_ms(deadline));
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            return -1;
        if (r == 0)
            return 0;
        if (ubus_wire_fill(fd, rx) < 0) {
            /* Deliver what came before the end. */
            r = ubus_wire_next(rx, msg);
            return r == 1 ? 1 : -1;
        }
    }
}

int ubus_wire_connect(const char *path, uint32_t *client_id, int timeout_ms) {
    struct sockaddr_un sun;
    struct ubus_wire_rx rx = {NULL, 0, 0};
    struct ubus_wire_msg msg;
    int fd, r;

    if (!path || strlen(path) >= sizeof(sun.sun_path))
        return -1;

    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;

    memset(&sun, 0, sizeof(sun));
    sun.sun_family = AF_UNIX;
    strcpy(sun.sun_path, path);
    if (connect(fd, (struct sockaddr *)&sun, sizeof(sun)) < 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

    r = ubus_wire_recv(fd, &rx, &msg, timeout_ms);
    /* The daemon says nothing else before the client asks: anything left
     * over in rx would be a protocol error. */
    if (r != 1 || msg.type != UBUS_WIRE_HELLO || rx.len != 0) {
        if (r == 1)
            ubus_wire_msg_free(&msg);
        ubus_wire_rx_free(&rx);
        close(fd);
        return -1;
    }
    *client_id = msg.id;
    ubus_wire_msg_free(&msg);
    ubus_wire_rx_free(&rx);
    return fd;
}

int ubus_wire_parse(const struct blobmsg_policy *policy, int n, struct blob_attr **tb,
                    const struct ubus_wire_msg *msg) {
    if (!msg->data) {
        memset(tb, 0, n * sizeof(*tb));
        return 0;
    }
    if (blob_len(msg->data) == 0) {
        memset(tb, 0, n * sizeof(*tb));
        return 0;
    }
    return blobmsg_parse(policy, n, tb, blob_data(msg->data), blob_len(msg->data));
}

int ubus_wire_add_table(struct blob_buf *b, const char *name, const struct blob_attr *attr) {
    void *cookie = blobmsg_open_table(b, name);
    struct blob_attr *cur;
    size_t rem;

    if (!cookie)
        return -1;
    if (attr) {
        blobmsg_for_each_attr(cur, attr, rem) {
            if (blob_put_raw(b, cur, blob_raw_len(cur)) < 0)
                return -1;
        }
    }
    blobmsg_close_table(b, cookie);
    return 0;
}
