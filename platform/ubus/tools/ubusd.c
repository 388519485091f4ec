/*
 * ubusd-sim - the host bus daemon
 *
 * One process, one poll loop. Clients connect to a Unix stream socket and talk
 * the framed protocol of ubus_wire.h. The daemon assigns object and type ids,
 * routes method calls to the owning client and their status back, and fans
 * events out to listeners, announcing objects with "ubus.object.add" and
 * "ubus.object.remove". A client that sends anything that is not a valid
 * frame is dropped; the daemon itself goes on.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <getopt.h>
#include <libubox/blobmsg.h>
#include <libubus.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include "ubus_wire.h"

#define UBUS_UNIX_SOCKET "/var/run/ubus/ubus.sock"
#define MAX_CLIENTS 256
#define MAX_PATTERNS 64
/* A client that cannot take a frame within this time is dropped. */
#define SEND_TIMEOUT_MS 1000

struct client {
    int fd;
    uint32_t id;
    bool dead;
    struct ubus_wire_rx rx;
    char *patterns[MAX_PATTERNS];
    int n_patterns;
};

struct object {
    uint32_t id;
    uint32_t owner;
    char *path;    /* NULL: anonymous */
    uint32_t type; /* 0: no type, not listed and not callable */
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

static struct client *clients[MAX_CLIENTS];
static struct object *objects;
static int n_objects;
static struct type *types;
static int n_types;
static struct call *calls;
static int n_calls;
static uint32_t call_seq;
static uint64_t id_state;
static volatile sig_atomic_t stop;

static void on_signal(int signo) {
    (void)signo;
    stop = 1;
}

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
static uint32_t new_id(void) {
    uint32_t id;

    do {
        id_state ^= id_state << 13;
        id_state ^= id_state >> 7;
        id_state ^= id_state << 17;
        id = (uint32_t)(id_state >> 16) & 0x7fffffff;
    } while (!id || id_in_use(id));
    return id;
}

static struct client *find_client(uint32_t id) {
    int i;

    for (i = 0; i < MAX_CLIENTS; i++)
        if (clients[i] && !clients[i]->dead && clients[i]->id == id)
            return clients[i];
    return NULL;
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

static void send_to(struct client *c, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
                    const struct blob_attr *payload) {
    if (!c || c->dead)
        return;
    if (ubus_wire_send(c->fd, type, seq, id, status, payload, SEND_TIMEOUT_MS) < 0)
        c->dead = true;
}

static bool pattern_matches(const char *pattern, const char *type) {
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

static void announce_object(const struct object *obj, bool add) {
    const char *type = add ? "ubus.object.add" : "ubus.object.remove";
    struct blob_buf b;
    void *data;

    if (!obj->path)
        return;

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "type", type);
    data = blobmsg_open_table(&b, "data");
    blobmsg_add_u32(&b, "id", obj->id);
    blobmsg_add_string(&b, "path", obj->path);
    blobmsg_close_table(&b, data);
    fan_out(type, b.head);
    blob_buf_free(&b);
}

static void remove_object_at(int i) {
    struct object obj = objects[i];

    objects[i] = objects[--n_objects];
    announce_object(&obj, false);
    free(obj.path);
}

static void handle_add_object(struct client *c, struct ubus_wire_msg *msg) {
    enum { A_NAME, A_TYPE_ID, A_SIGNATURE, __A_MAX };
    static const struct blobmsg_policy policy[__A_MAX] = {
        [A_NAME] = {.name = "name", .type = BLOBMSG_TYPE_STRING},
        [A_TYPE_ID] = {.name = "type_id", .type = BLOBMSG_TYPE_INT32},
        [A_SIGNATURE] = {.name = "signature", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__A_MAX];
    struct object obj = {0, c->id, NULL, 0};
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

    announce_object(&obj, true);
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

static void handle_event(struct client *c, struct ubus_wire_msg *msg) {
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

static void handle_listen(struct client *c, struct ubus_wire_msg *msg) {
    static const struct blobmsg_policy policy = {.name = "pattern", .type = BLOBMSG_TYPE_STRING};
    struct blob_attr *tb;
    int status = UBUS_STATUS_INVALID_ARGUMENT;

    if (ubus_wire_parse(&policy, 1, &tb, msg) == 0 && tb && c->n_patterns < MAX_PATTERNS) {
        c->patterns[c->n_patterns++] = strdup(blobmsg_get_string(tb));
        status = UBUS_STATUS_OK;
    }
    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, status, NULL);
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
        if (tb && strcmp(objects[i].path, blobmsg_get_string(tb)) != 0)
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

static void handle_subscribe(struct client *c, struct ubus_wire_msg *msg) {
    /* Subscriptions are not kept; the request is refused cleanly. */
    send_to(c, UBUS_WIRE_STATUS, msg->seq, 0, UBUS_STATUS_NOT_SUPPORTED, NULL);
}

/* Returns false for a client that broke the protocol. */
static bool handle_msg(struct client *c, struct ubus_wire_msg *msg) {
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

static void drop_client(int slot) {
    struct client *c = clients[slot];
    int i;

    clients[slot] = NULL;
    close(c->fd);

    for (i = 0; i < n_objects;) {
        if (objects[i].owner == c->id)
            remove_object_at(i);
        else
            i++;
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
    for (i = 0; i < c->n_patterns; i++)
        free(c->patterns[i]);
    ubus_wire_rx_free(&c->rx);
    free(c);
}

static void accept_client(int lfd) {
    struct client *c;
    int fd, slot;

    fd = accept4(lfd, NULL, NULL, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;

    for (slot = 0; slot < MAX_CLIENTS && clients[slot]; slot++)
        ;
    c = slot < MAX_CLIENTS ? (struct client *)calloc(1, sizeof(*c)) : NULL;
    if (!c) {
        close(fd);
        return;
    }
    c->fd = fd;
    c->id = new_id();
    clients[slot] = c;
    send_to(c, UBUS_WIRE_HELLO, 0, c->id, 0, NULL);
}

static void read_client(struct client *c) {
    struct ubus_wire_msg msg;
    int fill = ubus_wire_fill(c->fd, &c->rx);
    int r;

    while (!c->dead && (r = ubus_wire_next(&c->rx, &msg)) == 1) {
        if (!handle_msg(c, &msg))
            c->dead = true;
        ubus_wire_msg_free(&msg);
    }
    if (r < 0 || fill < 0)
        c->dead = true;
}

/* mkdir -p of the socket's directory. */
static void make_parent_dirs(const char *path) {
    char *dir = strdup(path);
    char *p;

    if (!dir)
        return;
    for (p = dir + 1; *p; p++) {
        if (*p != '/')
            continue;
        *p = 0;
        mkdir(dir, 0755);
        *p = '/';
    }
    free(dir);
}

static int open_socket(const char *path) {
    struct sockaddr_un sun;
    int fd;

    if (strlen(path) >= sizeof(sun.sun_path)) {
        fprintf(stderr, "ubusd-sim: socket path too long: %s\n", path);
        return -1;
    }
    make_parent_dirs(path);
    unlink(path);

    fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    memset(&sun, 0, sizeof(sun));
    sun.sun_family = AF_UNIX;
    strcpy(sun.sun_path, path);
    if (bind(fd, (struct sockaddr *)&sun, sizeof(sun)) < 0 || listen(fd, 64) < 0) {
        fprintf(stderr, "ubusd-sim: cannot listen on %s: %s\n", path, strerror(errno));
        close(fd);
        return -1;
    }
    chmod(path, 0666);
    return fd;
}

int main(int argc, char **argv) {
    const char *path = UBUS_UNIX_SOCKET;
    struct sigaction act;
    struct timespec ts;
    sigset_t block, orig;
    int lfd, ch, i;
    bool again;

    while ((ch = getopt(argc, argv, "s:")) != -1) {
        switch (ch) {
            case 's':
                path = optarg;
                break;
            default:
                fprintf(stderr, "Usage: %s [-s <socket>]\n", argv[0]);
                return 1;
        }
    }

    clock_gettime(CLOCK_REALTIME, &ts);
    id_state = ((uint64_t)ts.tv_nsec << 20) ^ ((uint64_t)getpid() << 1) ^ ts.tv_sec ^ 1;

    signal(SIGPIPE, SIG_IGN);
    memset(&act, 0, sizeof(act));
    act.sa_handler = on_signal;
    sigemptyset(&act.sa_mask);
    sigaction(SIGTERM, &act, NULL);
    sigaction(SIGINT, &act, NULL);
    /* The signals are let through only while waiting, so none is missed. */
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &orig);

    lfd = open_socket(path);
    if (lfd < 0)
        return 1;

    while (!stop) {
        struct pollfd pfds[MAX_CLIENTS + 1];
        int slots[MAX_CLIENTS + 1];
        int n = 0;

        pfds[n].fd = lfd;
        pfds[n].events = POLLIN;
        slots[n++] = -1;
        for (i = 0; i < MAX_CLIENTS; i++) {
            if (!clients[i])
                continue;
            pfds[n].fd = clients[i]->fd;
            pfds[n].events = POLLIN;
            slots[n++] = i;
        }

        if (ppoll(pfds, n, NULL, &orig) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }

        for (i = 1; i < n; i++) {
            struct client *c = clients[slots[i]];

            if (c && !c->dead && pfds[i].revents)
                read_client(c);
        }
        if (pfds[0].revents & POLLIN)
            accept_client(lfd);

        /* Dropping one client may make another fail to take an event. */
        for (again = true; again;) {
            again = false;
            for (i = 0; i < MAX_CLIENTS; i++) {
                if (clients[i] && clients[i]->dead) {
                    drop_client(i);
                    again = true;
                }
            }
        }
    }

    for (i = 0; i < MAX_CLIENTS; i++)
        if (clients[i]) {
            close(clients[i]->fd);
            ubus_wire_rx_free(&clients[i]->rx);
        }
    close(lfd);
    unlink(path);
    return 0;
}
