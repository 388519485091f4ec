/*
 * blob.c - building blob attributes in a growable buffer
 *
 * The buffer holds one root attribute at its start. New attributes are
 * appended behind the current head (the root, or the innermost open nest),
 * and the head's length grows to cover them, padding included. Growing may
 * move the buffer, so positions are kept as offsets while it happens.
 */
#include "libubox/blob.h"

#include <stdlib.h>
#include <string.h>

static bool blob_buffer_grow(struct blob_buf *buf, int minlen) {
    int delta = ((minlen / 256) + 1) * 256;
    void *p = realloc(buf->buf, buf->buflen + delta);

    if (!p)
        return false;

    memset((char *)p + buf->buflen, 0, delta);
    buf->buf = p;
    buf->buflen += delta;
    return true;
}

static void blob_init(struct blob_attr *attr, int id, unsigned int len) {
    len &= BLOB_ATTR_LEN_MASK;
    len |= ((unsigned int)id << BLOB_ATTR_ID_SHIFT) & BLOB_ATTR_ID_MASK;
    attr->id_len = cpu_to_be32(len);
}

static inline struct blob_attr *offset_to_attr(struct blob_buf *buf, int offset) {
    void *ptr = (char *)buf->buf + offset - BLOB_COOKIE;
    return (struct blob_attr *)ptr;
}

static inline int attr_to_offset(struct blob_buf *buf, struct blob_attr *attr) {
    return (char *)attr - (char *)buf->buf + BLOB_COOKIE;
}

bool blob_buf_grow(struct blob_buf *buf, int required) {
    int offset_head = attr_to_offset(buf, buf->head);

    if ((buf->buflen + required) > BLOB_ATTR_LEN_MASK)
        return false;
    if (!buf->grow || !buf->grow(buf, required))
        return false;

    buf->head = offset_to_attr(buf, offset_head);
    return true;
}

static struct blob_attr *blob_add(struct blob_buf *buf, struct blob_attr *pos, int id,
                                  int payload) {
    int offset = attr_to_offset(buf, pos);
    /* Room for the padding too: blob_fill_pad writes it. */
    int padded =
        (sizeof(struct blob_attr) + payload + BLOB_ATTR_ALIGN - 1) & ~(BLOB_ATTR_ALIGN - 1);
    int required = (offset - BLOB_COOKIE + padded) - buf->buflen;
    struct blob_attr *attr;

    if (required > 0) {
        if (!blob_buf_grow(buf, required))
            return NULL;
        attr = offset_to_attr(buf, offset);
    } else {
        attr = pos;
    }

    blob_init(attr, id, payload + sizeof(struct blob_attr));
    blob_fill_pad(attr);
    return attr;
}

int blob_buf_init(struct blob_buf *buf, int id) {
    if (!buf->grow)
        buf->grow = blob_buffer_grow;

    buf->head = (struct blob_attr *)buf->buf;
    if (blob_add(buf, (struct blob_attr *)buf->buf, id, 0) == NULL)
        return -ENOMEM;

    return 0;
}

void blob_buf_free(struct blob_buf *buf) {
    free(buf->buf);
    buf->buf = NULL;
    buf->head = NULL;
    buf->buflen = 0;
}

void blob_fill_pad(struct blob_attr *attr) {
    char *buf = (char *)attr;
    int len = blob_pad_len(attr);
    int delta = len - blob_raw_len(attr);

    if (delta > 0)
        memset(buf + len - delta, 0, delta);
}

void blob_set_raw_len(struct blob_attr *attr, unsigned int len) {
    uint32_t id_len = be32_to_cpu(attr->id_len);

    len &= BLOB_ATTR_LEN_MASK;
    id_len &= ~BLOB_ATTR_LEN_MASK;
    attr->id_len = cpu_to_be32(id_len | len);
}

/* Makes the head cover everything up to the end of attr, padding included. */
static void blob_extend_head(struct blob_buf *buf, struct blob_attr *attr) {
    blob_set_raw_len(buf->head, (char *)attr - (char *)buf->head + blob_pad_len(attr));
}

struct blob_attr *blob_new(struct blob_buf *buf, int id, int payload) {
    struct blob_attr *attr;

    if (!buf->head)
        return NULL;

    attr = blob_add(buf, blob_next(buf->head), id, payload);
    if (!attr)
        return NULL;

    blob_extend_head(buf, attr);
    return attr;
}

int blob_put_raw(struct blob_buf *buf, const void *ptr, unsigned int len) {
    struct blob_attr *attr;

    if (len < sizeof(struct blob_attr) || !ptr)
        return -1;

    attr = blob_add(buf, blob_next(buf->head), 0, len - sizeof(struct blob_attr));
    if (!attr)
        return -1;

    memcpy(attr, ptr, len);
    blob_extend_head(buf, attr);
    return 0;
}

struct blob_attr *blob_put(struct blob_buf *buf, int id, const void *ptr, unsigned int len) {
    struct blob_attr *attr = blob_new(buf, id, len);

    if (!attr)
        return NULL;

    if (len > 0)
        memcpy(blob_data(attr), ptr, len);
    return attr;
}

void *blob_nest_start(struct blob_buf *buf, int id) {
    unsigned long offset = attr_to_offset(buf, buf->head);
    struct blob_attr *attr = blob_new(buf, id, 0);

    if (!attr)
        return NULL;

    /* blob_new extended the parent already by the empty nest's header. */
    buf->head = attr;
    return (void *)offset;
}

void blob_nest_end(struct blob_buf *buf, void *cookie) {
    struct blob_attr *attr = offset_to_attr(buf, (unsigned long)cookie);
    struct blob_attr *nest = buf->head;

    buf->head = attr;
    blob_extend_head(buf, nest);
}

bool blob_attr_equal(const struct blob_attr *a1, const struct blob_attr *a2) {
    if (!a1 && !a2)
        return true;
    if (!a1 || !a2)
        return false;
    if (blob_pad_len(a1) != blob_pad_len(a2))
        return false;
    return !memcmp(a1, a2, blob_pad_len(a1));
}

struct blob_attr *blob_memdup(struct blob_attr *attr) {
    struct blob_attr *ret;
    int size = blob_pad_len(attr);

    ret = (struct blob_attr *)malloc(size);
    if (!ret)
        return NULL;

    memcpy(ret, attr, size);
    return ret;
}
