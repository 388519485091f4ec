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

#include "ubusd.h"

#define UBUS_UNIX_SOCKET "/var/run/ubus/ubus.sock"

struct client *clients[MAX_CLIENTS];
static volatile sig_atomic_t stop;

struct client *find_client(uint32_t id) {
    int i;

    for (i = 0; i < MAX_CLIENTS; i++)
        if (clients[i] && !clients[i]->dead && clients[i]->id == id)
            return clients[i];
    return NULL;
}

void send_to(struct client *c, uint16_t type, uint32_t seq, uint32_t id, int32_t status,
             const struct blob_attr *payload) {
    if (!c || c->dead)
        return;
    if (ubus_wire_send(c->fd, type, seq, id, status, payload, SEND_TIMEOUT_MS) < 0)
        c->dead = true;
}

static void on_signal(int signo) {
    (void)signo;
    stop = 1;
}

static void drop_client(int slot) {
    struct client *c = clients[slot];
    int i;

    clients[slot] = NULL;
    close(c->fd);

    client_gone(c);
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
    seed_ids(((uint64_t)ts.tv_nsec << 20) ^ ((uint64_t)getpid() << 1) ^ ts.tv_sec);

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
