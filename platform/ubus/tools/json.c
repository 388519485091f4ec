/*
 * json.c - a small JSON reader into blobmsg and a blobmsg writer
 */
#include "json.h"

#include <errno.h>
#include <inttypes.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#define JSON_MAX_DEPTH 32

struct reader {
    const char *p;
    int depth;
};

static void skip_ws(struct reader *r) {
    while (*r->p == ' ' || *r->p == '\t' || *r->p == '\n' || *r->p == '\r')
        r->p++;
}

static int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static bool read_hex4(const char *p, unsigned int *out) {
    unsigned int v = 0;
    int i;

    for (i = 0; i < 4; i++) {
        int d = hex_digit(p[i]);

        if (d < 0)
            return false;
        v = v * 16 + d;
    }
    *out = v;
    return true;
}

static size_t put_utf8(char *out, unsigned int cp) {
    if (cp < 0x80) {
        out[0] = cp;
        return 1;
    }
    if (cp < 0x800) {
        out[0] = 0xc0 | (cp >> 6);
        out[1] = 0x80 | (cp & 0x3f);
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = 0xe0 | (cp >> 12);
        out[1] = 0x80 | ((cp >> 6) & 0x3f);
        out[2] = 0x80 | (cp & 0x3f);
        return 3;
    }
    out[0] = 0xf0 | (cp >> 18);
    out[1] = 0x80 | ((cp >> 12) & 0x3f);
    out[2] = 0x80 | ((cp >> 6) & 0x3f);
    out[3] = 0x80 | (cp & 0x3f);
    return 4;
}

/* Reads a string literal into a fresh buffer (decoded never grows longer). */
static char *read_string(struct reader *r) {
    const char *p = r->p;
    char *out, *o;

    if (*p != '"')
        return NULL;
    p++;
    out = o = (char *)malloc(strlen(p) + 1);
    if (!out)
        return NULL;

    while (*p != '"') {
        unsigned int cp;

        if (*p == 0 || (unsigned char)*p < 0x20)
            goto fail;
        if (*p != '\\') {
            *o++ = *p++;
            continue;
        }
        p++;
        switch (*p) {
            case '"':
            case '\\':
            case '/':
                *o++ = *p;
                break;
            case 'b':
                *o++ = '\b';
                break;
            case 'f':
                *o++ = '\f';
                break;
            case 'n':
                *o++ = '\n';
                break;
            case 'r':
                *o++ = '\r';
                break;
            case 't':
                *o++ = '\t';
                break;
            case 'u':
                if (!read_hex4(p + 1, &cp))
                    goto fail;
                p += 4;
                if (cp >= 0xd800 && cp < 0xdc00 && p[1] == '\\' && p[2] == 'u') {
                    unsigned int lo;

                    if (read_hex4(p + 3, &lo) && lo >= 0xdc00 && lo < 0xe000) {
                        cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
                        p += 6;
                    }
                }
                if (cp == 0)
                    goto fail;
                o += put_utf8(o, cp);
                break;
            default:
                goto fail;
        }
        p++;
    }
    *o = 0;
    r->p = p + 1;
    return out;

fail:
    free(out);
    return NULL;
}

static bool read_value(struct reader *r, struct blob_buf *b, const char *name);

static bool read_members(struct reader *r, struct blob_buf *b, bool array) {
    char close = array ? ']' : '}';

    r->p++;
    skip_ws(r);
    if (*r->p == close) {
        r->p++;
        return true;
    }
    for (;;) {
        char *name = NULL;
        bool ok;

        skip_ws(r);
        if (!array) {
            name = read_string(r);
            if (!name)
                return false;
            skip_ws(r);
            if (*r->p != ':') {
                free(name);
                return false;
            }
            r->p++;
            skip_ws(r);
        }
        ok = read_value(r, b, name);
        free(name);
        if (!ok)
            return false;
        skip_ws(r);
        if (*r->p == ',') {
            r->p++;
            continue;
        }
        if (*r->p == close) {
            r->p++;
            return true;
        }
        return false;
    }
}

static bool read_number(struct reader *r, struct blob_buf *b, const char *name) {
    const char *start = r->p;
    const char *p = r->p;
    bool is_double = false;
    char *end;

    if (*p == '-')
        p++;
    if (*p < '0' || *p > '9')
        return false;
    while ((*p >= '0' && *p <= '9') || *p == '.' || *p == 'e' || *p == 'E' || *p == '+' ||
           *p == '-') {
        if (*p == '.' || *p == 'e' || *p == 'E')
            is_double = true;
        p++;
    }

    if (is_double) {
        double d = strtod(start, &end);

        if (end != p)
            return false;
        r->p = p;
        return blobmsg_add_double(b, name, d) == 0;
    } else {
        long long v;

        errno = 0;
        v = strtoll(start, &end, 10);
        if (end != p || errno)
            return false;
        r->p = p;
        if (v >= INT32_MIN && v <= INT32_MAX)
            return blobmsg_add_u32(b, name, (uint32_t)(int32_t)v) == 0;
        return blobmsg_add_u64(b, name, (uint64_t)v) == 0;
    }
}

static bool read_value(struct reader *r, struct blob_buf *b, const char *name) {
    void *cookie;
    char *s;
    bool ok;

    skip_ws(r);
    switch (*r->p) {
        case '{':
        case '[':
            if (++r->depth > JSON_MAX_DEPTH)
                return false;
            cookie = blobmsg_open_nested(b, name, *r->p == '[');
            if (!cookie)
                return false;
            ok = read_members(r, b, *r->p == '[');
            blob_nest_end(b, cookie);
            r->depth--;
            return ok;
        case '"':
            s = read_string(r);
            if (!s)
                return false;
            ok = blobmsg_add_string(b, name, s) == 0;
            free(s);
            return ok;
        case 't':
            if (strncmp(r->p, "true", 4) != 0)
                return false;
            r->p += 4;
            return blobmsg_add_u8(b, name, 1) == 0;
        case 'f':
            if (strncmp(r->p, "false", 5) != 0)
                return false;
            r->p += 5;
            return blobmsg_add_u8(b, name, 0) == 0;
        case 'n':
            if (strncmp(r->p, "null", 4) != 0)
                return false;
            r->p += 4;
            return blobmsg_add_field(b, BLOBMSG_TYPE_UNSPEC, name, NULL, 0) == 0;
        default:
            return read_number(r, b, name);
    }
}

bool json_to_blobmsg(struct blob_buf *b, const char *text) {
    struct reader r = {text, 0};

    skip_ws(&r);
    if (*r.p != '{')
        return false;
    if (!read_members(&r, b, false))
        return false;
    skip_ws(&r);
    return *r.p == 0;
}

static void print_string(FILE *out, const char *s) {
    fputc('"', out);
    for (; *s; s++) {
        unsigned char c = (unsigned char)*s;

        switch (c) {
            case '"':
                fputs("\\\"", out);
                break;
            case '\\':
                fputs("\\\\", out);
                break;
            case '\b':
                fputs("\\b", out);
                break;
            case '\f':
                fputs("\\f", out);
                break;
            case '\n':
                fputs("\\n", out);
                break;
            case '\r':
                fputs("\\r", out);
                break;
            case '\t':
                fputs("\\t", out);
                break;
            default:
                if (c < 0x20)
                    fprintf(out, "\\u%04x", c);
                else
                    fputc(c, out);
        }
    }
    fputc('"', out);
}

static void print_tabs(FILE *out, int n) {
    while (n-- > 0)
        fputc('\t', out);
}

static void print_value(FILE *out, const struct blob_attr *attr, int indent) {
    const void *data = blobmsg_data(attr);
    size_t len = blobmsg_data_len(attr);

    switch (blobmsg_type(attr)) {
        case BLOBMSG_TYPE_TABLE:
            json_print(out, attr, false, indent);
            return;
        case BLOBMSG_TYPE_ARRAY:
            json_print(out, attr, true, indent);
            return;
        case BLOBMSG_TYPE_STRING:
            if (len > 0)
                print_string(out, (const char *)data);
            else
                fputs("\"\"", out);
            return;
        case BLOBMSG_TYPE_INT8:
            fputs(len == 1 && *(const uint8_t *)data ? "true" : "false", out);
            return;
        case BLOBMSG_TYPE_INT16:
            fprintf(out, "%d", (int16_t)blobmsg_get_u16((struct blob_attr *)attr));
            return;
        case BLOBMSG_TYPE_INT32:
            fprintf(out, "%d", (int32_t)blobmsg_get_u32((struct blob_attr *)attr));
            return;
        case BLOBMSG_TYPE_INT64:
            fprintf(out, "%" PRId64, (int64_t)blobmsg_get_u64((struct blob_attr *)attr));
            return;
        case BLOBMSG_TYPE_DOUBLE:
            fprintf(out, "%lf", blobmsg_get_double((struct blob_attr *)attr));
            return;
        default:
            fputs("null", out);
            return;
    }
}

void json_print(FILE *out, const struct blob_attr *attr, bool array, int indent) {
    const struct blob_attr *cur;
    size_t rem;
    bool first = true;

    fputc(array ? '[' : '{', out);
    if (attr) {
        blobmsg_for_each_attr(cur, attr, rem) {
            if (!first)
                fputc(',', out);
            first = false;
            if (indent >= 0) {
                fputc('\n', out);
                print_tabs(out, indent + 1);
            }
            if (!array) {
                print_string(out, blobmsg_name(cur));
                fputs(indent >= 0 ? ": " : ":", out);
            }
            print_value(out, cur, indent >= 0 ? indent + 1 : -1);
        }
    }
    if (indent >= 0) {
        /* An empty container still gets its (empty) member line. */
        if (first) {
            fputc('\n', out);
            print_tabs(out, indent + 1);
        }
        fputc('\n', out);
        print_tabs(out, indent);
    }
    fputc(array ? ']' : '}', out);
}
