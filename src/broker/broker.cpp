#include "broker/broker.h"

#include <errno.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

// The libubox headers carry no C linkage of their own.
extern "C" {
#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
}
#include <libubus.h>

#include "base/log.h"
#include "broker/messages.h"

namespace {

// One datagram is read into a buffer of this size; anything that fills it is
// too long for a message and is dropped.
constexpr ssize_t kRecvBufSize = 512;
// The working fields of one message, each with room for its NUL.
constexpr size_t kTypeSize = 64;
constexpr size_t kMessageSize = 128;
// Pause between two connection attempts and after a lost connection.
constexpr useconds_t kRetryDelayUs = 1000000;

// Broker-wide state: touched by the broker thread only.
ubus_context *bus_ctx;
blob_buf event_buf;
uloop_fd local_sock = {nullptr, -1, false, false, false, 0};
// Set when the bus connection went away, so that a loss noticed before the
// event loop runs (the loop clears uloop_cancelled on entry) is not missed.
bool bus_lost;

// Diagnostic lines without a prefix go to standard error in one write each,
// like the trace lines, so that the daemon's threads never interleave them.
__attribute__((format(printf, 1, 2))) void err_printf(const char *fmt, ...) {
    char line[256];
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    if (n <= 0) {
        return;
    }
    if (n >= static_cast<int>(sizeof line)) {
        n = sizeof line - 1;
    }
    ssize_t ignored = ::write(STDERR_FILENO, line, n);
    (void)ignored;
}

const char *file_base_name(const char *path) {
    const char *slash = strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// The method ignores whatever the caller sends: calling it only shows that
// the daemon is alive on the bus.
int broker_process(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *) {
    err_printf("\n broker_process \n");
    return 0;
}

void broker_subscribe(ubus_context *, ubus_object *obj) {
    err_printf("Subscribers active: %d\n", obj->has_subscribers ? 1 : 0);
}

const blobmsg_policy kBrokerPolicy[] = {
    {"id", BLOBMSG_TYPE_INT32},
    {"msg", BLOBMSG_TYPE_STRING},
};
const ubus_method kBrokerMethods[] = {
    UBUS_METHOD("powerbank_broker", broker_process, kBrokerPolicy),
};
// Not const: the library writes the type's id when the object is added.
ubus_object_type broker_type = UBUS_OBJECT_TYPE("powerbank_broker", kBrokerMethods);
ubus_object broker_object;

void setup_broker_object() {
    broker_object.name = "powerbank_broker";
    broker_object.type = &broker_type;
    broker_object.methods = kBrokerMethods;
    broker_object.n_methods = static_cast<int>(ARRAY_SIZE(kBrokerMethods));
    broker_object.subscribe_cb = broker_subscribe;
}

enum class field_result { absent, copied, too_long };

// Copies what stands between the first KEY in TEXT and the first CR behind it
// into FIELD. Without the key or without that CR the field stays empty; a value
// that does not fit leaves it empty too and says so.
field_result copy_field(const char *text, const char *key, char *field, size_t size) {
    const char *start = strstr(text, key);
    if (start == nullptr) {
        return field_result::absent;
    }
    start += strlen(key);
    const char *end = strchr(start, '\r');
    if (end == nullptr) {
        return field_result::absent;
    }
    size_t len = static_cast<size_t>(end - start);
    if (len >= size) {
        return field_result::too_long;
    }
    memcpy(field, start, len);
    field[len] = '\0';
    return field_result::copied;
}

// The local socket's reader: one datagram per call, level-triggered, so a
// queue of datagrams drains one loop pass at a time.
void read_datagram(uloop_fd *u, unsigned int) {
    powerbank_inter_comm_msg_recv(u->fd);
}

void close_local_socket() {
    if (local_sock.fd < 0) {
        return;
    }
    uloop_fd_delete(&local_sock);
    ::close(local_sock.fd);
    local_sock.fd = -1;
}

// A fresh socket at the fixed path for every connection. Only the owner may
// write to it, so no unprivileged process can put events on the bus.
void open_local_socket() {
    close_local_socket();
    ::unlink(kBrokerSocketPath);
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        perror("socket error");
        return;
    }
    // The mode of the socket's inode becomes the mode of the file that bind
    // creates; a failure leaves the umask's mode, as bind alone would.
    (void)::fchmod(fd, 0600);

    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, kBrokerSocketPath, sizeof addr.sun_path - 1);
    // A failed bind is not reported: the cycle runs on and no datagram arrives.
    (void)::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);

    local_sock.cb = read_datagram;
    local_sock.fd = fd;
    uloop_fd_add(&local_sock, ULOOP_READ);
}

// uloop_init, which ubus_connect calls as well, takes SIGINT and SIGTERM over
// where they have their default action, and the loop would then swallow them.
// The daemon is stopped by SIGTERM, so the broker gives back the dispositions
// the process had when the thread started, after every such call.
struct sigaction saved_sigint;
struct sigaction saved_sigterm;

void save_stop_signals() {
    sigaction(SIGINT, nullptr, &saved_sigint);
    sigaction(SIGTERM, nullptr, &saved_sigterm);
}

void restore_stop_signals() {
    sigaction(SIGINT, &saved_sigint, nullptr);
    sigaction(SIGTERM, &saved_sigterm, nullptr);
}

// libubus's own handling of a lost connection leaves the loop running without
// the bus; ending the loop here is what brings the broker to reconnect.
void on_connection_lost(ubus_context *) {
    bus_lost = true;
    uloop_end();
}

ubus_context *connect_bus() {
    for (;;) {
        ubus_context *ctx = ubus_connect(nullptr);
        restore_stop_signals();
        if (ctx != nullptr) {
            return ctx;
        }
        err_printf("\npowerbank -> Failed to connect to ubus\n");
        usleep(kRetryDelayUs);
    }
}

// The event loop ends when the bus connection is lost. If it ended because of
// a stop signal instead (a libubox that takes SIGINT and SIGTERM over in the
// loop), the daemon stops as the signal asked.
void serve() {
    if (bus_lost) {
        return;
    }
    int sig = uloop_run_timeout(-1);
    if (sig == SIGINT || sig == SIGTERM) {
        signal(sig, SIG_DFL);
        raise(sig);
    }
}

// One pass from Connecting through Setting up and Serving to Disconnected.
// Everything the pass opened is closed and out of the loop when it returns.
void run_connection() {
    bus_ctx = connect_bus();
    bus_lost = false;
    bus_ctx->connection_lost = on_connection_lost;
    ubus_add_uloop(bus_ctx);
    open_local_socket();

    // A type id from an earlier connection would make a fresh bus daemon
    // create the object without its methods.
    broker_object.id = 0;
    broker_type.id = 0;
    int ret = ubus_add_object(bus_ctx, &broker_object);
    if (ret != 0) {
        err_printf("\nF=%s,L=%d Failed to add_object object: %s\n", file_base_name(__FILE__),
                   __LINE__, ubus_strerror(ret));
    } else {
        serve();
    }

    close_local_socket();
    uloop_fd_delete(&bus_ctx->sock);
    ubus_free(bus_ctx);
    bus_ctx = nullptr;
}

}  // namespace

int powerbank_init_broker_task() {
    pthread_t thread;
    int err = pthread_create(&thread, nullptr, broker_task, nullptr);
    if (err != 0) {
        // The daemon runs on without the bus; its messages are lost.
        broker_trace_log(__func__, __LINE__, "broker thread not started: %s\n", strerror(err));
    }
    return 0;
}

void *broker_task(void *) {
    err_printf("\nver 1.2\n");
    printf("%s PID=%d\n", "broker_task", static_cast<int>(getpid()));

    setup_broker_object();
    save_stop_signals();
    uloop_init();
    restore_stop_signals();
    for (;;) {
        run_connection();
        usleep(kRetryDelayUs);
    }
}

void powerbank_inter_comm_msg_recv(int fd) {
    char buf[kRecvBufSize] = {};
    // MSG_TRUNC gives the datagram's real length, so a datagram that does not
    // fit is seen as such instead of being read cut.
    ssize_t n = ::recvfrom(fd, buf, sizeof buf, MSG_TRUNC, nullptr, nullptr);
    if (n <= 0) {
        return;
    }
    if (n >= kRecvBufSize) {
        broker_trace_log(__func__, __LINE__, "datagram of %zd bytes dropped\n", n);
        return;
    }
    (void)powerbank_inter_comm_msg_process(buf);
}

int powerbank_inter_comm_msg_process(const char *text) {
    if (text == nullptr) {
        broker_trace_log(__func__, __LINE__, "msg is NULL\n");
        return -1;
    }
    broker_trace_log(__func__, __LINE__, "msg=%s\n\n", text);

    char type[kTypeSize] = {};
    char message[kMessageSize] = {};
    field_result type_res = copy_field(text, "type=", type, sizeof type);
    field_result message_res = copy_field(text, "msg=", message, sizeof message);
    if (type_res == field_result::too_long || message_res == field_result::too_long) {
        broker_trace_log(__func__, __LINE__, "type or message too long, dropped\n");
        return -1;
    }
    broker_trace_log(__func__, __LINE__, "type=%s, message=%s\n", type, message);
    if (type[0] == '\0' || message[0] == '\0') {
        return -1;
    }

    blob_buf_init(&event_buf, 0);
    blobmsg_add_u32(&event_buf, "id", broker_object.id);
    blobmsg_add_string(&event_buf, "msg", message);
    int ret = ubus_send_event(bus_ctx, type, event_buf.head);
    if (ret != 0) {
        broker_trace_log(__func__, __LINE__, "ubus_send_event: %s\n\n", ubus_strerror(ret));
        return ret;
    }
    return 0;
}
