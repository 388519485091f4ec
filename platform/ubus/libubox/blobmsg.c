/*
 * blobmsg.c - named, typed fields: building, checking and parsing
 */
#include "libubox/blobmsg.h"

#include <errno.h>
#include <string.h>

/* Nesting deeper than this is refused by the checks: a peer cannot make us
 * recurse without bound. */
#define BLOBMSG_MAX_DEPTH 32

/* Checks the name header; on success data and data_len give the value (the
 * whole payload of a plain attribute, which has no header). */
static bool blobmsg_check_name(const struct blob_attr *attr, size_t len, bool name,
                               const char **data, size_t *data_len) {
    const struct blobmsg_hdr *hdr;
    uint16_t namelen;
    int hdrlen;

    if (!blob_is_extended(attr)) {
        *data = (const char *)blob_data(attr);
        *data_len = len;
        return !name;
    }
    if (len < sizeof(struct blobmsg_hdr))
        return false;

    hdr = (const struct blobmsg_hdr *)blob_data(attr);
    namelen = blobmsg_namelen(hdr);
    if (name && !namelen)
        return false;

    hdrlen = blobmsg_hdrlen(namelen);
    if ((size_t)hdrlen > len)
        return false;
    if (hdr->name[namelen] != 0)
        return false;

    *data = (const char *)blob_data(attr) + hdrlen;
    *data_len = len - hdrlen;
    return true;
}

static bool blobmsg_check_value(int id, const char *data, size_t data_len, int depth);

/* Children of a table (named) or array (unnamed), each checked in turn. */
static bool blobmsg_check_children(const char *data, size_t len, bool names, int depth) {
    while (len > 0) {
        const struct blob_attr *attr = (const struct blob_attr *)data;
        const char *value;
        size_t value_len, raw, pad;

        if (len < sizeof(struct blob_attr))
            return false;
        raw = blob_raw_len(attr);
        pad = blob_pad_len(attr);
        if (raw < sizeof(struct blob_attr) || raw > len)
            return false;
        if (!blob_is_extended(attr))
            return false;
        if (!blobmsg_check_name(attr, blob_len(attr), names, &value, &value_len))
            return false;
        if (!blobmsg_check_value(blob_id(attr), value, value_len, depth + 1))
            return false;
        if (pad > len)
            pad = len;
        data += pad;
        len -= pad;
    }
    return true;
}

static bool blobmsg_check_value(int id, const char *data, size_t data_len, int depth) {
    if (id > BLOBMSG_TYPE_LAST)
        return false;
    if (depth > BLOBMSG_MAX_DEPTH)
        return false;

    switch (id) {
        case BLOBMSG_TYPE_INT8:
            return data_len == 1;
        case BLOBMSG_TYPE_INT16:
            return data_len == 2;
        case BLOBMSG_TYPE_INT32:
            return data_len == 4;
        case BLOBMSG_TYPE_INT64:
        case BLOBMSG_TYPE_DOUBLE:
            return data_len == 8;
        case BLOBMSG_TYPE_STRING:
            return data_len > 0 && data[data_len - 1] == 0;
        case BLOBMSG_TYPE_TABLE:
            return blobmsg_check_children(data, data_len, true, depth);
        case BLOBMSG_TYPE_ARRAY:
            return blobmsg_check_children(data, data_len, false, depth);
        default:
            return true;
    }
}

bool blobmsg_check_attr_len(const struct blob_attr *attr, bool name, size_t len) {
    const char *data;
    size_t data_len;

    if (len < sizeof(struct blob_attr) || blob_raw_len(attr) > len ||
        blob_raw_len(attr) < sizeof(struct blob_attr))
        return false;
    if (!blobmsg_check_name(attr, blob_len(attr), name, &data, &data_len))
        return false;
    return blobmsg_check_value(blob_id(attr), data, data_len, 0);
}

bool blobmsg_check_attr(const struct blob_attr *attr, bool name) {
    return blobmsg_check_attr_len(attr, name, blob_raw_len(attr));
}

int blobmsg_check_array(const struct blob_attr *attr, int type) {
    struct blob_attr *cur;
    size_t rem;
    int size = 0;

    if (blobmsg_type(attr) != BLOBMSG_TYPE_ARRAY && blobmsg_type(attr) != BLOBMSG_TYPE_TABLE)
        return -1;

    blobmsg_for_each_attr(cur, attr, rem) {
        if (type != BLOBMSG_TYPE_UNSPEC && blobmsg_type(cur) != type)
            return -1;
        if (!blobmsg_check_attr(cur, blobmsg_type(attr) == BLOBMSG_TYPE_TABLE))
            return -1;
        size++;
    }
    return size;
}

static bool blobmsg_type_matches(int want, int have) {
    if (want == BLOBMSG_TYPE_UNSPEC)
        return true;
    if (want == BLOBMSG_CAST_INT64)
        return have == BLOBMSG_TYPE_INT8 || have == BLOBMSG_TYPE_INT16 ||
               have == BLOBMSG_TYPE_INT32 || have == BLOBMSG_TYPE_INT64;
    return want == have;
}

/* Walks the attributes in data; the first one matching a policy entry by
 * exact name and type fills that slot, later duplicates are ignored. */
static int blobmsg_parse_common(const struct blobmsg_policy *policy, int policy_len,
                                struct blob_attr **tb, void *data, unsigned int len, bool array) {
    const char *p = (const char *)data;
    size_t rem = len;
    int index = 0;
    int i;

    if (policy_len > 0)
        memset(tb, 0, policy_len * sizeof(*tb));
    if (!data || !len)
        return -EINVAL;

    while (rem > 0) {
        struct blob_attr *attr = (struct blob_attr *)p;
        const char *value;
        size_t value_len, raw, pad;

        if (rem < sizeof(struct blob_attr))
            return -1;
        raw = blob_raw_len(attr);
        pad = blob_pad_len(attr);
        if (raw < sizeof(struct blob_attr) || raw > rem)
            return -1;
        if (pad > rem)
            pad = rem;
        p += pad;
        rem -= pad;

        if (array) {
            i = index++;
            if (i >= policy_len)
                break;
            if (!blobmsg_type_matches(policy[i].type, blob_id(attr)))
                continue;
            if (!blobmsg_check_name(attr, blob_len(attr), false, &value, &value_len) ||
                !blobmsg_check_value(blob_id(attr), value, value_len, 0))
                return -1;
            tb[i] = attr;
            continue;
        }

        if (!blob_is_extended(attr))
            continue;
        if (!blobmsg_check_name(attr, blob_len(attr), false, &value, &value_len))
            return -1;
        if (!blobmsg_namelen((const struct blobmsg_hdr *)blob_data(attr)))
            continue;

        for (i = 0; i < policy_len; i++) {
            const char *name = policy[i].name;

            if (!name || tb[i])
                continue;
            if (strcmp(name, blobmsg_name(attr)) != 0)
                continue;
            if (!blobmsg_type_matches(policy[i].type, blob_id(attr)))
                continue;
            if (!blobmsg_check_value(blob_id(attr), value, value_len, 0))
                return -1;
            tb[i] = attr;
        }
    }

    return 0;
}

int blobmsg_parse(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                  void *data, unsigned int len) {
    return blobmsg_parse_common(policy, policy_len, tb, data, len, false);
}

int blobmsg_parse_array(const struct blobmsg_policy *policy, int policy_len, struct blob_attr **tb,
                        void *data, unsigned int len) {
    return blobmsg_parse_common(policy, policy_len, tb, data, len, true);
}

static struct blob_attr *blobmsg_new(struct blob_buf *buf, int type, const char *name,
                                     int payload_len, void **data) {
    struct blob_attr *attr;
    struct blobmsg_hdr *hdr;
    int attrlen, namelen;
    uint16_t be_namelen;
    char *pad_start, *pad_end;

    if (!name)
        name = "";

    namelen = strlen(name);
    if (namelen > 0xffff)
        return NULL;
    attrlen = blobmsg_hdrlen(namelen) + payload_len;
    attr = blob_new(buf, type, attrlen);
    if (!attr)
        return NULL;

    attr->id_len |= be32_to_cpu(BLOB_ATTR_EXTENDED);
    hdr = (struct blobmsg_hdr *)blob_data(attr);
    be_namelen = cpu_to_be16(namelen);
    memcpy(&hdr->namelen, &be_namelen, sizeof(be_namelen));
    memcpy(hdr->name, name, namelen);
    hdr->name[namelen] = '\0';

    pad_end = *data = blobmsg_data(attr);
    pad_start = (char *)&hdr->name[namelen];
    if (pad_start < pad_end)
        memset(pad_start, 0, pad_end - pad_start);

    return attr;
}

int blobmsg_add_field(struct blob_buf *buf, int type, const char *name, const void *data,
                      unsigned int len) {
    struct blob_attr *attr;
    void *data_dest;

    attr = blobmsg_new(buf, type, name, len, &data_dest);
    if (!attr)
        return -1;

    if (len > 0)
        memcpy(data_dest, data, len);

    return 0;
}

void *blobmsg_open_nested(struct blob_buf *buf, const char *name, bool array) {
    struct blob_attr *head;
    int type = array ? BLOBMSG_TYPE_ARRAY : BLOBMSG_TYPE_TABLE;
    unsigned long offset;
    void *data;

    if (!buf->head)
        return NULL;

    offset = (char *)buf->head - (char *)buf->buf + BLOB_COOKIE;
    head = blobmsg_new(buf, type, name, 0, &data);
    if (!head)
        return NULL;

    /* The nest becomes the head; its name header is already in its length. */
    buf->head = head;
    return (void *)offset;
}
