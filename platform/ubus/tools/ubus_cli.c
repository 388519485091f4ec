/*
 * ubus-sim - command-line client of the host bus
 *
 * ubus-sim [-s socket] [-t timeout] [-S] [-v] list [-v] [path]
 *                                          call <path> <method> [<json>]
 *                                          listen [<pattern>...]
 *                                          send <type> [<json>]
 *                                          subscribe <path>...
 *
 * Output follows the device's bus tool: listen prints one flushed line per
 * event, call prints the reply as tab-indented JSON and reports a failing
 * status as "Command failed: ubus call OBJ METHOD (<text>)".
 */
#define _GNU_SOURCE
#include <getopt.h>
#include <libubus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "json.h"
#include "ubus_wire.h"

#define UBUS_UNIX_SOCKET "/var/run/ubus/ubus.sock"
#define CONNECT_TIMEOUT_MS 10000

static const char *socket_path = UBUS_UNIX_SOCKET;
static int timeout_s = 30;
/* listen ends after the timeout only when one was given. */
static bool timeout_given;
static bool simple_output;
static bool verbose;

static int sock = -1;
static struct ubus_wire_rx rx;
static uint32_t next_seq;

static long long now_ms(void) {
    struct timespec ts;

    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

static void usage(const char *prog) {
    fprintf(stderr,
            "Usage: %s [<options>] <command> [arguments...]\n"
            "Options:\n"
            " -s <socket>:\t\tSet the unix domain socket to connect to\n"
            " -t <timeout>:\t\tSet the timeout (in seconds) for a command to complete\n"
            " -S:\t\t\tUse simplified output (for scripts)\n"
            " -v:\t\t\tMore verbose output\n"
            "\n"
            "Commands:\n"
            " - list [<path>]\t\t\tList objects (a trailing * matches a prefix)\n"
            " - call <path> <method> [<message>]\tCall an object method\n"
            " - listen [<path>...]\t\t\tListen for events\n"
            " - send <type> [<message>]\t\tSend an event\n"
            " - subscribe <path> [<path>...]\tSubscribe to object(s) notifications\n"
            "\n",
            prog);
}

static bool connect_bus(void) {
    uint32_t id;

    sock = ubus_wire_connect(socket_path, &id, CONNECT_TIMEOUT_MS);
    if (sock < 0) {
        if (!simple_output)
            fprintf(stderr, "Failed to connect to ubus\n");
        return false;
    }
    return true;
}

/* Sends a request and waits for its STATUS. A DATA frame that comes before
 * it is kept in data (free with ubus_wire_msg_free); the STATUS payload in
 * reply, when asked for. */
static int request(uint16_t type, const struct blob_attr *payload, struct ubus_wire_msg *data,
                   struct ubus_wire_msg *reply, int timeout_ms) {
    uint32_t seq = ++next_seq;

    if (data)
        memset(data, 0, sizeof(*data));
    if (reply)
        memset(reply, 0, sizeof(*reply));

    if (ubus_wire_send(sock, type, seq, 0, 0, payload, -1) < 0)
        return UBUS_STATUS_CONNECTION_FAILED;

    for (;;) {
        struct ubus_wire_msg msg;
        int r = ubus_wire_recv(sock, &rx, &msg, timeout_ms);

        if (r == 0)
            return UBUS_STATUS_TIMEOUT;
        if (r < 0)
            return UBUS_STATUS_CONNECTION_FAILED;
        if (msg.seq != seq) {
            ubus_wire_msg_free(&msg);
            continue;
        }
        if (msg.type == UBUS_WIRE_DATA && data && !data->frame) {
            *data = msg;
            continue;
        }
        if (msg.type == UBUS_WIRE_STATUS) {
            int status = msg.status;

            if (reply)
                *reply = msg;
            else
                ubus_wire_msg_free(&msg);
            return status;
        }
        ubus_wire_msg_free(&msg);
    }
}

static bool build_message(struct blob_buf *b, const char *json) {
    if (!json)
        return true;
    if (json_to_blobmsg(b, json))
        return true;
    if (!simple_output)
        fprintf(stderr, "Failed to parse message data\n");
    return false;
}

static const char *format_type(uint32_t type) {
    switch (type) {
        case BLOBMSG_TYPE_STRING:
            return "\"String\"";
        case BLOBMSG_TYPE_INT32:
            return "\"Integer\"";
        case BLOBMSG_TYPE_INT8:
            return "\"Boolean\"";
        case BLOBMSG_TYPE_ARRAY:
            return "\"Array\"";
        case BLOBMSG_TYPE_TABLE:
            return "\"Table\"";
        default:
            return "\"(unknown)\"";
    }
}

static void print_object(struct blob_attr *obj) {
    enum { O_PATH, O_ID, O_SIGNATURE, __O_MAX };
    static const struct blobmsg_policy policy[__O_MAX] = {
        [O_PATH] = {.name = "path", .type = BLOBMSG_TYPE_STRING},
        [O_ID] = {.name = "id", .type = BLOBMSG_TYPE_INT32},
        [O_SIGNATURE] = {.name = "signature", .type = BLOBMSG_TYPE_TABLE},
    };
    struct blob_attr *tb[__O_MAX];
    struct blob_attr *method, *arg;
    size_t rem, rem2;

    if (blobmsg_parse(policy, __O_MAX, tb, blobmsg_data(obj), blobmsg_data_len(obj)) < 0 ||
        !tb[O_PATH] || !tb[O_ID])
        return;

    if (!verbose) {
        printf("%s\n", blobmsg_get_string(tb[O_PATH]));
        return;
    }

    printf("'%s' @%08x\n", blobmsg_get_string(tb[O_PATH]), blobmsg_get_u32(tb[O_ID]));
    blobmsg_for_each_attr(method, tb[O_SIGNATURE], rem) {
        bool first = true;

        printf("\t\"%s\":{", blobmsg_name(method));
        blobmsg_for_each_attr(arg, method, rem2) {
            if (blobmsg_type(arg) != BLOBMSG_TYPE_INT32)
                continue;
            printf("%s\"%s\":%s", first ? "" : ",", blobmsg_name(arg),
                   format_type(blobmsg_get_u32(arg)));
            first = false;
        }
        printf("}\n");
    }
}

static int cmd_list(int argc, char **argv) {
    static const struct blobmsg_policy policy = {.name = "objects", .type = BLOBMSG_TYPE_ARRAY};
    struct ubus_wire_msg reply;
    struct blob_attr *tb, *obj;
    struct blob_buf b;
    size_t rem;
    int status;

    if (argc > 0 && !strcmp(argv[0], "-v")) {
        verbose = true;
        argc--;
        argv++;
    }

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    if (argc > 0)
        blobmsg_add_string(&b, "path", argv[0]);

    status = request(UBUS_WIRE_LOOKUP, b.head, NULL, &reply, timeout_s * 1000);
    blob_buf_free(&b);
    if (status == UBUS_STATUS_OK && ubus_wire_parse(&policy, 1, &tb, &reply) == 0 && tb) {
        blobmsg_for_each_attr(obj, tb, rem) print_object(obj);
    }
    ubus_wire_msg_free(&reply);
    return status;
}

static int cmd_call(int argc, char **argv, const char *prog) {
    struct ubus_wire_msg data;
    struct blob_buf b, msg;
    int status;

    if (argc < 2 || argc > 3)
        return -2;

    memset(&msg, 0, sizeof(msg));
    blob_buf_init(&msg, 0);
    if (!build_message(&msg, argc > 2 ? argv[2] : NULL)) {
        blob_buf_free(&msg);
        return -1;
    }

    /* Look the object up first: a missing object is reported on its own. */
    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "path", argv[0]);
    status = request(UBUS_WIRE_LOOKUP, b.head, NULL, NULL, timeout_s * 1000);
    if (status != UBUS_STATUS_OK) {
        blob_buf_free(&b);
        blob_buf_free(&msg);
        return status;
    }

    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "path", argv[0]);
    blobmsg_add_string(&b, "method", argv[1]);
    ubus_wire_add_table(&b, "data", msg.head);
    status = request(UBUS_WIRE_INVOKE, b.head, &data, NULL, timeout_s * 1000);
    blob_buf_free(&b);
    blob_buf_free(&msg);

    if (data.frame) {
        static const struct blobmsg_policy policy = {.name = "data", .type = BLOBMSG_TYPE_TABLE};
        struct blob_attr *tb;

        if (ubus_wire_parse(&policy, 1, &tb, &data) == 0 && tb) {
            if (simple_output && blobmsg_data_len(tb) == 0)
                printf("{ }");
            else
                json_print(stdout, tb, false, simple_output ? -1 : 0);
            printf("\n");
        }
        ubus_wire_msg_free(&data);
    }

    if (status != UBUS_STATUS_OK) {
        if (!simple_output)
            fprintf(stderr, "Command failed: ubus call %s %s (%s)\n", argv[0], argv[1],
                    ubus_strerror(status));
        if (status == UBUS_STATUS_INVALID_ARGUMENT)
            usage(prog);
        fflush(stdout);
        exit((-status) & 0xff);
    }
    return 0;
}

static int cmd_listen(int argc, char **argv) {
    static const struct blobmsg_policy policy[2] = {
        {.name = "type", .type = BLOBMSG_TYPE_STRING},
        {.name = "data", .type = BLOBMSG_TYPE_TABLE},
    };
    static char *all[] = {(char *)"*"};
    struct blob_buf b;
    int i, status;

    if (argc == 0) {
        argc = 1;
        argv = all;
    }

    memset(&b, 0, sizeof(b));
    for (i = 0; i < argc; i++) {
        blob_buf_init(&b, 0);
        blobmsg_add_string(&b, "pattern", argv[i]);
        status = request(UBUS_WIRE_LISTEN, b.head, NULL, NULL, timeout_s * 1000);
        if (status != UBUS_STATUS_OK) {
            blob_buf_free(&b);
            return status;
        }
    }
    blob_buf_free(&b);

    long long end = timeout_given ? now_ms() + timeout_s * 1000LL : -1;
    for (;;) {
        struct ubus_wire_msg msg;
        struct blob_attr *tb[2];
        long long left = end < 0 ? -1 : end - now_ms();
        int r = ubus_wire_recv(sock, &rx, &msg, end < 0 ? -1 : (left > 0 ? (int)left : 0));

        if (r <= 0)
            return 0;
        if (msg.type == UBUS_WIRE_EVENT && ubus_wire_parse(policy, 2, tb, &msg) == 0 && tb[0]) {
            printf("{ \"%s\": ", blobmsg_get_string(tb[0]));
            json_print(stdout, tb[1], false, -1);
            printf(" }\n");
            fflush(stdout);
        }
        ubus_wire_msg_free(&msg);
    }
}

static int cmd_send(int argc, char **argv) {
    struct blob_buf b, msg;
    int status;

    if (argc < 1 || argc > 2)
        return -2;

    memset(&msg, 0, sizeof(msg));
    blob_buf_init(&msg, 0);
    if (!build_message(&msg, argc > 1 ? argv[1] : NULL)) {
        blob_buf_free(&msg);
        return -1;
    }

    memset(&b, 0, sizeof(b));
    blob_buf_init(&b, 0);
    blobmsg_add_string(&b, "type", argv[0]);
    ubus_wire_add_table(&b, "data", msg.head);
    status = request(UBUS_WIRE_EVENT, b.head, NULL, NULL, timeout_s * 1000);
    blob_buf_free(&b);
    blob_buf_free(&msg);
    return status;
}

/* Subscribes and stays subscribed until killed or the bus goes away. */
static int cmd_subscribe(int argc, char **argv) {
    struct blob_buf b;
    int i, status;

    if (argc < 1)
        return -2;

    memset(&b, 0, sizeof(b));
    for (i = 0; i < argc; i++) {
        blob_buf_init(&b, 0);
        blobmsg_add_string(&b, "path", argv[i]);
        status = request(UBUS_WIRE_SUBSCRIBE, b.head, NULL, NULL, timeout_s * 1000);
        if (status != UBUS_STATUS_OK) {
            blob_buf_free(&b);
            return status;
        }
    }
    blob_buf_free(&b);

    for (;;) {
        struct ubus_wire_msg msg;

        if (ubus_wire_recv(sock, &rx, &msg, -1) <= 0)
            return 0;
        ubus_wire_msg_free(&msg);
    }
}

int main(int argc, char **argv) {
    const char *prog = argv[0];
    const char *cmd;
    int ch, ret;

    while ((ch = getopt(argc, argv, "+s:t:Sv")) != -1) {
        switch (ch) {
            case 's':
                socket_path = optarg;
                break;
            case 't':
                timeout_s = atoi(optarg);
                if (timeout_s <= 0)
                    timeout_s = 30;
                timeout_given = true;
                break;
            case 'S':
                simple_output = true;
                break;
            case 'v':
                verbose = true;
                break;
            default:
                usage(prog);
                return 1;
        }
    }
    argc -= optind;
    argv += optind;
    if (argc < 1) {
        usage(prog);
        return 1;
    }
    cmd = argv[0];
    argc--;
    argv++;

    if (strcmp(cmd, "list") && strcmp(cmd, "call") && strcmp(cmd, "listen") &&
        strcmp(cmd, "send") && strcmp(cmd, "subscribe")) {
        usage(prog);
        return 1;
    }

    if (!connect_bus())
        return 255;

    if (!strcmp(cmd, "list"))
        ret = cmd_list(argc, argv);
    else if (!strcmp(cmd, "call"))
        ret = cmd_call(argc, argv, prog);
    else if (!strcmp(cmd, "listen"))
        ret = cmd_listen(argc, argv);
    else if (!strcmp(cmd, "send"))
        ret = cmd_send(argc, argv);
    else
        ret = cmd_subscribe(argc, argv);

    if (ret > 0 && !simple_output)
        fprintf(stderr, "Command failed: %s\n", ubus_strerror(ret));
    else if (ret == -2)
        usage(prog);

    close(sock);
    ubus_wire_rx_free(&rx);
    /* Negative results (-1 bad message data, -2 usage) exit as 255 and 254. */
    return ret & 0xff;
}
