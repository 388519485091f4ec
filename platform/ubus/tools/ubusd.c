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

static volatile sig_atomic_t stop;

static void on_signal(int signo) {
    (void)signo;
    stop = 1;
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
                serve_client(c);
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
