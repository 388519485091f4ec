// record [--size BYTES]: the change log's recorder, one uloop process that
// procd keeps running. It hears the daemon's events and its bus object come
// and go on the bus, and status values change through a watch on the store's
// status directory; each change becomes a logfmt line with the wall-clock
// time. Nothing wakes it while nothing changes: a timer runs only for the
// moment a line waits for company, and while the bus is away (it tries it
// again once a second). After start-up it allocates nothing of its own.
#include <devmgr.h>
#include <errno.h>
#include <libubus.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "bus.h"
#include "ctl.h"
#include "logfile.h"
#include "logfmt.h"
#include "published.h"

namespace powerbankctl {

namespace {

using namespace pbview;

constexpr int kRetryMs = 1000;

// Set up by cmd_record.
struct Recorder {
    const char *socket;
    LogFile log;
    LineView view;
    FILE *lines;  // the view writes here, into line_buf
    char line_buf[4096];
    Published pub;
    devmgr_watch watch;
    uloop_fd watch_fd;
    ubus_context *bus;
    ubus_event_handler handler;
    uloop_timeout retry;
    uloop_timeout group;  // set while changes wait for their line to fill
    bool bus_complained;
};

Recorder rec;

int64_t now_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void add(int row, const char *value) {
    if (value[0] != '\0') {
        lines_add(&rec.view, Change{now_ms(), row, row_name(row), value});
    }
}

void add_row(int row) {
    char value[40];
    row_value(rec.pub, row, value, sizeof value);
    add(row, value);
}

void add_all() {
    published_read(&rec.pub);
    for (int row = kDc; row <= kOcTotal; ++row) {
        add_row(row);
    }
}

// The lines of the changes that can no longer gain company go to the log:
// changes within kGroupMs of a line's first one share it, so the rest wait
// that long (the view leaves out values that did not change since it last
// told them). FLUSH_ALL: everything now.
void write_out(bool flush_all = false) {
    rewind(rec.lines);
    const int64_t now = now_ms();
    lines_flush(&rec.view, flush_all ? INT64_MAX : now);
    const long n = ftell(rec.lines);
    if (n > 0 && log_append(&rec.log, rec.line_buf, static_cast<size_t>(n))) {
        // The oldest half went: every value is told again, in one line.
        char daemon[sizeof rec.view.printed[0]];
        copy_text(daemon, rec.view.printed[kDaemon]);
        memset(rec.view.printed, 0, sizeof rec.view.printed);
        add(kDaemon, daemon);
        add_all();
    }
    if (rec.view.count > 0 && !rec.group.pending) {
        const int64_t wait = rec.view.pending[0].ms + kGroupMs - now;
        uloop_timeout_set(&rec.group, static_cast<int>(wait < 1 ? 1 : wait));
    }
}

void on_group(uloop_timeout *) {
    write_out();
}

void stop_watching(const char *why) {
    fprintf(stderr, "powerbankctl: cannot watch %s (%s): values read at bus events only\n",
            devmgr_status_dir(), why);
    if (rec.watch_fd.registered) {
        uloop_fd_delete(&rec.watch_fd);
    }
    devmgr_status_watch_close(&rec.watch);
}

void drain_watch() {
    char key[72];
    int r = 0;
    while (rec.watch.fd >= 0 && (r = devmgr_status_watch_next(&rec.watch, key, sizeof key)) == 1) {
        const int row = key[0] != '\0' ? published_row(key) : -1;
        if (key[0] == '\0') {
            add_all();
        } else if (row >= 0) {
            published_read_row(&rec.pub, row);
            add_row(row);
        }
    }
    if (r < 0) {
        stop_watching(strerror(errno));
    }
}

void on_watch(uloop_fd *, unsigned int) {
    drain_watch();
    write_out();
}

void on_event(ubus_context *, ubus_event_handler *, const char *type, blob_attr *msg) {
    enum { kMsg, kPath };
    static const blobmsg_policy policy[] = {{"msg", BLOBMSG_TYPE_STRING},
                                            {"path", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2] = {};
    if (msg != nullptr) {
        blobmsg_parse(policy, 2, tb, blob_data(msg), blob_len(msg));
    }
    // What the daemon published before it announced it comes first; without
    // a watch, every value is read again.
    rec.watch.fd >= 0 ? drain_watch() : add_all();
    if (strcmp(type, "SendStatFile") == 0) {
        const char *text = tb[kMsg] != nullptr ? static_cast<char *>(blobmsg_data(tb[kMsg])) : "";
        char event[200];
        snprintf(event, sizeof event, "%s:%s", type, text);
        add(kEventRow, event);
        // A display update announces itself once all its values are written:
        // a port whose current stayed the same is told here.
        if (strcmp(text, "batterychange") == 0) {
            published_read_row(&rec.pub, kPort1);
            published_read_row(&rec.pub, kPort2);
            add_row(kPort1);
            add_row(kPort2);
        }
    } else if (tb[kPath] != nullptr &&
               strcmp(static_cast<char *>(blobmsg_data(tb[kPath])), kBrokerObject) == 0) {
        const bool up = strcmp(type, "ubus.object.add") == 0;
        add(kDaemon, up ? "up" : "down");
        if (up) {
            add_all();  // the view tells the values again after a daemon=down
        }
    }
    write_out();
}

void on_connection_lost(ubus_context *) {
    uloop_timeout_set(&rec.retry, 0);
}

bool connect_bus() {
    ubus_context *ctx = ubus_connect(rec.socket);
    if (ctx == nullptr) {
        if (!rec.bus_complained) {
            fprintf(stderr, "powerbankctl: no bus at %s: trying every second\n", rec.socket);
            rec.bus_complained = true;
        }
        return false;
    }
    ctx->connection_lost = on_connection_lost;
    ubus_add_uloop(ctx);
    // An id of the connection before would be refused by the bus.
    rec.handler.obj.id = 0;
    static const char *const kPatterns[] = {"SendStatFile", "ubus.object.add",
                                            "ubus.object.remove"};
    for (const char *pattern : kPatterns) {
        if (ubus_register_event_handler(ctx, &rec.handler, pattern) != 0) {
            uloop_fd_delete(&ctx->sock);
            ubus_free(ctx);
            return false;
        }
    }
    uint32_t id = 0;
    add(kDaemon, ubus_lookup_id(ctx, kBrokerObject, &id) == UBUS_STATUS_OK ? "up" : "down");
    rec.bus = ctx;
    rec.bus_complained = false;
    return true;
}

void on_retry(uloop_timeout *t) {
    if (rec.bus != nullptr) {
        uloop_fd_delete(&rec.bus->sock);
        ubus_free(rec.bus);
        rec.bus = nullptr;
    }
    if (!connect_bus()) {
        uloop_timeout_set(t, kRetryMs);
        return;
    }
    // Events may have been missed meanwhile: every value again.
    add_all();
    write_out();
}

}  // namespace

int cmd_record(const Paths &paths, int argc, char **argv) {
    int64_t size = 64 * 1024;
    for (int i = 0; i < argc; ++i) {
        if (strcmp(argv[i], "--size") != 0 || ++i == argc || (size = atoi(argv[i])) < 4096) {
            return usage();
        }
    }
    rec.socket = paths.socket;
    log_init(&rec.log, paths.log, size);
    rec.lines = fmemopen(rec.line_buf, sizeof rec.line_buf, "w");
    if (rec.lines == nullptr) {
        fprintf(stderr, "powerbankctl: out of memory\n");
        return kFailed;
    }
    lines_init(&rec.view, rec.lines, TimeFormat::kWallClock);
    uloop_init();

    if (devmgr_status_watch_open(&rec.watch) == 0) {
        rec.watch_fd.cb = on_watch;
        rec.watch_fd.fd = rec.watch.fd;
        uloop_fd_add(&rec.watch_fd, ULOOP_READ);
    } else {
        stop_watching(strerror(errno));
    }
    rec.handler.cb = on_event;
    rec.retry.cb = on_retry;
    rec.group.cb = on_group;
    if (!connect_bus()) {
        uloop_timeout_set(&rec.retry, kRetryMs);
    }
    // The first line: every value as it stands.
    add_all();
    write_out();

    uloop_run();  // until SIGTERM or SIGINT
    write_out(true);
    if (rec.bus != nullptr) {
        ubus_free(rec.bus);
    }
    log_close(&rec.log);
    return kOk;
}

}  // namespace powerbankctl
