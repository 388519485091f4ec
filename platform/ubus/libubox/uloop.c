/*
 * uloop.c - the process-wide event loop over epoll
 *
 * One loop per process. A pass runs the due timers, stops if cancelled, waits
 * for the descriptors up to the next timer and dispatches at most one
 * descriptor callback: epoll is asked for a single event, so other ready
 * descriptors stay queued in the kernel for the next pass.
 */
#define _GNU_SOURCE
#include "libubox/uloop.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

bool uloop_cancelled = false;
bool uloop_handle_sigchld = true;

static int poll_fd = -1;
static LIST_HEAD(timeouts);
static volatile sig_atomic_t uloop_status;
static volatile sig_atomic_t do_sigchld;

/* Signals whose handler uloop_init installed, with what was there before. */
struct saved_signal {
    int signo;
    bool installed;
    struct sigaction old;
};
static struct saved_signal saved_signals[] = {
    {.signo = SIGINT}, {.signo = SIGTERM}, {.signo = SIGCHLD}, {.signo = SIGPIPE}};

static void uloop_handle_sigint(int signo) {
    uloop_status = signo;
    uloop_cancelled = true;
}

static void uloop_sigchld(int signo) {
    (void)signo;
    do_sigchld = 1;
}

/* Installs a handler only where the current one is the default. */
static void uloop_install_handler(struct saved_signal *s, void (*handler)(int)) {
    struct sigaction act;

    if (s->installed)
        return;
    if (sigaction(s->signo, NULL, &s->old) < 0)
        return;
    if (s->old.sa_handler != SIG_DFL || (s->old.sa_flags & SA_SIGINFO))
        return;

    memset(&act, 0, sizeof(act));
    act.sa_handler = handler;
    sigemptyset(&act.sa_mask);
    /* No SA_RESTART: the signal has to interrupt the wait. */
    act.sa_flags = 0;
    if (sigaction(s->signo, &act, NULL) == 0)
        s->installed = true;
}

static void uloop_setup_signals(bool add) {
    size_t i;

    for (i = 0; i < ARRAY_SIZE(saved_signals); i++) {
        struct saved_signal *s = &saved_signals[i];

        if (!add) {
            if (s->installed)
                sigaction(s->signo, &s->old, NULL);
            s->installed = false;
            continue;
        }
        switch (s->signo) {
            case SIGINT:
            case SIGTERM:
                uloop_install_handler(s, uloop_handle_sigint);
                break;
            case SIGCHLD:
                if (uloop_handle_sigchld)
                    uloop_install_handler(s, uloop_sigchld);
                break;
            case SIGPIPE:
                uloop_install_handler(s, SIG_IGN);
                break;
        }
    }
}

int uloop_init(void) {
    if (poll_fd >= 0)
        return 0;

    poll_fd = epoll_create1(EPOLL_CLOEXEC);
    if (poll_fd < 0)
        return -1;

    uloop_setup_signals(true);
    return 0;
}

void uloop_done(void) {
    uloop_setup_signals(false);

    if (poll_fd >= 0) {
        close(poll_fd);
        poll_fd = -1;
    }

    while (!list_empty(&timeouts)) {
        struct uloop_timeout *t = list_first_entry(&timeouts, struct uloop_timeout, list);
        uloop_timeout_cancel(t);
    }
}

int uloop_fd_delete(struct uloop_fd *fd) {
    if (!fd->registered)
        return 0;

    fd->registered = false;
    fd->flags = 0;
    if (poll_fd < 0)
        return 0;
    return epoll_ctl(poll_fd, EPOLL_CTL_DEL, fd->fd, NULL);
}

int uloop_fd_add(struct uloop_fd *sock, unsigned int flags) {
    struct epoll_event ev;
    int op;

    if (!(flags & (ULOOP_READ | ULOOP_WRITE)))
        return uloop_fd_delete(sock);

    if (!sock->registered && !(flags & ULOOP_BLOCKING)) {
        int fl = fcntl(sock->fd, F_GETFL);

        if (fl >= 0)
            fcntl(sock->fd, F_SETFL, fl | O_NONBLOCK);
    }

    if (poll_fd < 0)
        return -1;

    memset(&ev, 0, sizeof(ev));
    if (flags & ULOOP_READ)
        ev.events |= EPOLLIN | EPOLLRDHUP;
    if (flags & ULOOP_WRITE)
        ev.events |= EPOLLOUT;
    if (flags & ULOOP_EDGE_TRIGGER)
        ev.events |= EPOLLET;
    ev.data.ptr = sock;

    op = sock->registered ? EPOLL_CTL_MOD : EPOLL_CTL_ADD;
    if (epoll_ctl(poll_fd, op, sock->fd, &ev) < 0)
        return -1;

    sock->flags = flags;
    sock->registered = true;
    sock->eof = false;
    sock->error = false;
    return 0;
}

static int64_t tv_diff(const struct timeval *t1, const struct timeval *t2) {
    return (int64_t)(t1->tv_sec - t2->tv_sec) * 1000 + (t1->tv_usec - t2->tv_usec) / 1000;
}

static void uloop_gettime(struct timeval *tv) {
    struct timespec ts;

    clock_gettime(CLOCK_MONOTONIC, &ts);
    tv->tv_sec = ts.tv_sec;
    tv->tv_usec = ts.tv_nsec / 1000;
}

int uloop_timeout_add(struct uloop_timeout *timeout) {
    struct list_head *h = &timeouts;
    struct list_head *p;

    if (timeout->pending)
        return -1;

    /* Keep the list sorted by due time; equal times run in order of adding. */
    list_for_each(p, &timeouts) {
        struct uloop_timeout *tmp = list_entry(p, struct uloop_timeout, list);

        if (tv_diff(&tmp->time, &timeout->time) > 0) {
            h = p;
            break;
        }
    }

    list_add_tail(&timeout->list, h);
    timeout->pending = true;
    return 0;
}

int uloop_timeout_set(struct uloop_timeout *timeout, int msecs) {
    struct timeval *time = &timeout->time;

    if (timeout->pending)
        uloop_timeout_cancel(timeout);

    uloop_gettime(time);
    time->tv_sec += msecs / 1000;
    time->tv_usec += (msecs % 1000) * 1000;
    if (time->tv_usec >= 1000000) {
        time->tv_sec++;
        time->tv_usec -= 1000000;
    }
    return uloop_timeout_add(timeout);
}

int uloop_timeout_cancel(struct uloop_timeout *timeout) {
    if (!timeout->pending)
        return -1;

    list_del(&timeout->list);
    timeout->pending = false;
    return 0;
}

int uloop_timeout_remaining(struct uloop_timeout *timeout) {
    struct timeval now;
    int64_t td;

    if (!timeout->pending)
        return -1;

    uloop_gettime(&now);
    td = tv_diff(&timeout->time, &now);
    if (td < 0)
        return 0;
    return td > 0x7fffffff ? 0x7fffffff : (int)td;
}

static void uloop_process_timeouts(void) {
    struct timeval now;

    uloop_gettime(&now);
    while (!list_empty(&timeouts)) {
        struct uloop_timeout *t = list_first_entry(&timeouts, struct uloop_timeout, list);

        if (tv_diff(&t->time, &now) > 0)
            break;

        uloop_timeout_cancel(t);
        if (t->cb)
            t->cb(t);
    }
}

static int uloop_get_next_timeout(void) {
    struct uloop_timeout *t;
    struct timeval now;
    int64_t diff;

    if (list_empty(&timeouts))
        return -1;

    uloop_gettime(&now);
    t = list_first_entry(&timeouts, struct uloop_timeout, list);
    diff = tv_diff(&t->time, &now);
    if (diff < 0)
        return 0;
    return diff > 0x7fffffff ? 0x7fffffff : (int)diff;
}

/* Reaps every exited child: the app's own waitpid() then sees ECHILD. */
static void uloop_handle_processes(void) {
    do_sigchld = 0;
    while (waitpid(-1, NULL, WNOHANG) > 0)
        ;
}

static void uloop_run_events(int timeout) {
    struct epoll_event ev;
    struct uloop_fd *u;
    unsigned int events = 0;
    int n;

    if (poll_fd < 0)
        return;

    n = epoll_wait(poll_fd, &ev, 1, timeout);
    if (n <= 0)
        return;

    u = (struct uloop_fd *)ev.data.ptr;
    if (!u || !u->registered)
        return;

    if (ev.events & (EPOLLERR | EPOLLHUP)) {
        /* The descriptor leaves the loop before its owner hears of it. */
        u->error = true;
        if (ev.events & EPOLLHUP)
            u->eof = true;
        uloop_fd_delete(u);
    }
    if (ev.events & EPOLLRDHUP)
        u->eof = true;

    if (ev.events & EPOLLIN)
        events |= ULOOP_READ;
    if (ev.events & EPOLLOUT)
        events |= ULOOP_WRITE;

    if (u->cb)
        u->cb(u, events);
}

int uloop_run_timeout(int timeout) {
    int next_time;

    /* An uloop_end() from before this call is forgotten. */
    uloop_cancelled = false;
    uloop_status = 0;

    for (;;) {
        uloop_process_timeouts();

        if (do_sigchld)
            uloop_handle_processes();

        if (uloop_cancelled)
            break;

        next_time = uloop_get_next_timeout();
        if (timeout >= 0 && (next_time < 0 || timeout < next_time))
            next_time = timeout;
        uloop_run_events(next_time);

        if (timeout >= 0)
            break;
    }

    return uloop_status;
}
