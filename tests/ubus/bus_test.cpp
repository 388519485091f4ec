// The bus stand-in end to end: a real ubusd-sim on a socket of its own, an
// object served by libubus in this process, and ubus-sim as the other side.
#include <libubus.h>

#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "child.h"

using ubus_test::Child;
using ubus_test::now_ms;

namespace {

// Reply with the caller's fields; "ret" answers with the status in "code".
int echo_handler(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *,
                 blob_attr *msg) {
    blob_buf b{};
    blob_buf_init(&b, 0);
    blob_attr *cur;
    size_t rem;
    blob_for_each_attr(cur, msg, rem) blob_put_raw(&b, cur, blob_raw_len(cur));
    ubus_send_reply(ctx, req, b.head);
    blob_buf_free(&b);
    return 0;
}

// Set around synchronous requests, to catch a handler run from inside one.
bool in_request;
int handled_in_request;
int handled;

int ret_handler(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *msg) {
    handled++;
    if (in_request)
        handled_in_request++;
    const blobmsg_policy pol = {"code", BLOBMSG_TYPE_INT32};
    blob_attr *tb;
    if (blobmsg_parse(&pol, 1, &tb, blob_data(msg), blob_len(msg)) != 0 || !tb)
        return 0;
    return static_cast<int>(blobmsg_get_u32(tb));
}

const blobmsg_policy echo_policy[] = {
    {"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}, {"on", BLOBMSG_TYPE_BOOL}};
const ubus_method demo_methods[] = {
    UBUS_METHOD("echo", echo_handler, echo_policy),
    UBUS_METHOD_NOARG("ret", ret_handler),
};
ubus_object_type demo_type = UBUS_OBJECT_TYPE("demo", demo_methods);

ubus_object make_demo() {
    ubus_object obj{};
    obj.name = "demo";
    obj.type = &demo_type;
    obj.methods = demo_methods;
    obj.n_methods = ARRAY_SIZE(demo_methods);
    return obj;
}

// What the connection-lost callback saw.
struct LostRecord {
    int calls = 0;
    bool registered = true, eof = false, error = false;
    void (*default_cb)(ubus_context *) = nullptr;
} lost;

void record_lost(ubus_context *ctx) {
    lost.calls++;
    lost.registered = ctx->sock.registered;
    lost.eof = ctx->sock.eof;
    lost.error = ctx->sock.error;
    lost.default_cb(ctx);
}

// What the subscribe callback saw, in order.
std::vector<bool> subscriber_states;

void record_subscribers(ubus_context *, ubus_object *obj) {
    subscriber_states.push_back(obj->has_subscribers);
}

class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ubus-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        // A directory ubusd-sim has to create itself.
        sock_ = dir_ + "/run/ubus/ubus.sock";
        // The tests wait for their own children.
        uloop_handle_sigchld = false;
        demo_type.id = 0;
        demo_ = make_demo();
        start_ubusd();
    }

    void TearDown() override {
        ubus_free(ctx_);
        ubusd_.reset();
        uloop_done();
        std::string cmd = "rm -rf '" + dir_ + "'";
        (void)system(cmd.c_str());
    }

    void start_ubusd() {
        ubusd_.reset(new Child({UBUSD_SIM, "-s", sock_}));
        long long deadline = now_ms() + 5000;
        while (!can_connect()) {
            ASSERT_LT(now_ms(), deadline) << "ubusd-sim did not come up";
            ASSERT_FALSE(ubusd_->exited()) << ubusd_->err();
            usleep(1000);
        }
    }

    // Stops ubusd-sim as an init script would and checks it cleaned up.
    void stop_ubusd() {
        ubusd_->terminate();
        EXPECT_EQ(0, ubusd_->exit_code());
        struct stat st;
        EXPECT_NE(0, stat(sock_.c_str(), &st)) << "socket file left behind";
    }

    bool can_connect() {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un sun{};
        sun.sun_family = AF_UNIX;
        strncpy(sun.sun_path, sock_.c_str(), sizeof(sun.sun_path) - 1);
        bool ok = connect(fd, reinterpret_cast<sockaddr *>(&sun), sizeof(sun)) == 0;
        close(fd);
        return ok;
    }

    ubus_context *connect_and_add() {
        ubus_context *ctx = ubus_connect(sock_.c_str());
        EXPECT_NE(nullptr, ctx);
        if (!ctx)
            return nullptr;
        ubus_add_uloop(ctx);
        EXPECT_EQ(0, ubus_add_object(ctx, &demo_));
        return ctx;
    }

    // Runs ubus-sim to the end while this process serves its calls.
    std::unique_ptr<Child> cli(std::vector<std::string> args) {
        args.insert(args.begin(), {UBUS_SIM, "-s", sock_});
        auto c = std::make_unique<Child>(args);
        EXPECT_TRUE(c->wait([] { uloop_run_timeout(10); })) << "ubus-sim did not finish";
        return c;
    }

    std::unique_ptr<Child> listener(const std::string &pattern = "") {
        std::vector<std::string> args = {UBUS_SIM, "-s", sock_, "listen"};
        if (!pattern.empty())
            args.push_back(pattern);
        return std::make_unique<Child>(args);
    }

    // Sends probe events until the listener shows one, then a last one and
    // reads up to it: the listener is listening and has no lines pending.
    void wait_listening(Child &l, ubus_context *ctx, const char *type = "probe") {
        blob_buf b{};
        blob_buf_init(&b, 0);
        std::string want = std::string("{ \"") + type + "\": {} }";
        std::string line;
        long long deadline = now_ms() + 5000;
        bool seen = false;
        while (!seen && now_ms() < deadline) {
            ASSERT_EQ(0, ubus_send_event(ctx, type, b.head));
            while (!seen && l.read_line(line, 100))
                seen = line == want;
        }
        ASSERT_TRUE(seen) << "listener never saw " << want;

        blobmsg_add_u8(&b, "last", 1);
        ASSERT_EQ(0, ubus_send_event(ctx, type, b.head));
        blob_buf_free(&b);
        want = std::string("{ \"") + type + "\": {\"last\":true} }";
        while (l.read_line(line, 5000) && line != want) {
        }
        ASSERT_EQ(want, line);
    }

    std::string dir_, sock_;
    std::unique_ptr<Child> ubusd_;
    ubus_context *ctx_ = nullptr;
    ubus_object demo_{};
};

TEST_F(Bus, ObjectIsListedWithItsSignature) {
    ctx_ = connect_and_add();
    ASSERT_NE(0u, demo_.id);
    ASSERT_NE(0u, demo_type.id);

    auto plain = cli({"list"});
    EXPECT_EQ("demo\n", plain->out());

    char head[64];
    snprintf(head, sizeof(head), "'demo' @%08x\n", demo_.id);
    const std::string verbose =
        std::string(head) +
        "\t\"echo\":{\"id\":\"Integer\",\"msg\":\"String\",\"on\":\"Boolean\"}\n"
        "\t\"ret\":{}\n";
    EXPECT_EQ(verbose, cli({"-v", "list"})->out());
    EXPECT_EQ(verbose, cli({"list", "-v"})->out());
    EXPECT_EQ("demo\n", cli({"list", "de*"})->out());
    auto missing = cli({"list", "demo2"});
    EXPECT_EQ(4, missing->exit_code());
    EXPECT_EQ("Command failed: Not found\n", missing->err());
}

TEST_F(Bus, CallsPassTheHandlerStatusToTheCaller) {
    ctx_ = connect_and_add();

    auto echo = cli(
        {"call", "demo", "echo",
         R"({"id":5,"msg":"a\"b","t":{"x":[1,true]},"e":{},"big":-12345678901,"u":"\u00e9\t"})"});
    EXPECT_EQ(0, echo->exit_code()) << echo->err();
    EXPECT_EQ(
        "{\n\t\"id\": 5,\n\t\"msg\": \"a\\\"b\",\n\t\"t\": {\n\t\t\"x\": [\n\t\t\t1,\n"
        "\t\t\ttrue\n\t\t]\n\t},\n\t\"e\": {\n\t\t\n\t},\n\t\"big\": -12345678901,\n"
        "\t\"u\": \"\xc3\xa9\\t\"\n}\n",
        echo->out());
    EXPECT_EQ("{\n\t\n}\n", cli({"call", "demo", "echo"})->out());

    struct Case {
        const char *args;
        int exit_code;
        const char *err;
    };
    const Case cases[] = {
        {R"({"code":0})", 0, ""},
        {R"({"code":42})", 214, "Command failed: ubus call demo ret (Unknown error: 42)\n"},
        {R"({"code":4})", 252, "Command failed: ubus call demo ret (Not found)\n"},
        {R"({"code":7})", 249, "Command failed: ubus call demo ret (Request timed out)\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args);
        auto r = cli({"call", "demo", "ret", c.args});
        EXPECT_EQ(c.exit_code, r->exit_code());
        EXPECT_EQ(c.err, r->err());
        EXPECT_EQ("", r->out());
    }

    // Status 2 comes with the usage text.
    auto inval = cli({"call", "demo", "ret", R"({"code":2})"});
    EXPECT_EQ(254, inval->exit_code());
    EXPECT_EQ(0u, inval->err().find("Command failed: ubus call demo ret (Invalid argument)\n"));
    EXPECT_NE(std::string::npos, inval->err().find("Usage:"));

    auto method = cli({"call", "demo", "nope"});
    EXPECT_EQ(253, method->exit_code());
    EXPECT_EQ("Command failed: ubus call demo nope (Method not found)\n", method->err());

    for (const char *bad : {"{bad", "[1]", R"({"a":1} x)", R"({"s":"\q"})"}) {
        auto r = cli({"call", "demo", "echo", bad});
        EXPECT_EQ(255, r->exit_code()) << bad;
        EXPECT_EQ("Failed to parse message data\n", r->err()) << bad;
    }

    auto object = cli({"call", "nosuch", "echo"});
    EXPECT_EQ(4, object->exit_code());
    EXPECT_EQ("Command failed: Not found\n", object->err());
}

TEST_F(Bus, ListenPrintsEventsInTheDeviceFormat) {
    auto all = listener();
    auto send_only = listener("Send*");
    ctx_ = ubus_connect(sock_.c_str());
    ASSERT_NE(nullptr, ctx_);
    wait_listening(*all, ctx_);
    wait_listening(*send_only, ctx_, "SendProbe");
    wait_listening(*all, ctx_);

    ubus_add_uloop(ctx_);
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    blob_buf b{};
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "id", 5);
    blobmsg_add_string(&b, "msg", "dcchange");
    ASSERT_EQ(0, ubus_send_event(ctx_, "SendStatFile", b.head));
    blob_buf_free(&b);
    EXPECT_EQ(0, cli({"send", "foo"})->exit_code());

    std::string line;
    ASSERT_TRUE(all->read_line(line, 5000));
    EXPECT_EQ(
        "{ \"ubus.object.add\": {\"id\":" + std::to_string(demo_.id) + ",\"path\":\"demo\"} }",
        line);
    ASSERT_TRUE(all->read_line(line, 5000));
    EXPECT_EQ(R"({ "SendStatFile": {"id":5,"msg":"dcchange"} })", line);
    ASSERT_TRUE(all->read_line(line, 5000));
    EXPECT_EQ(R"({ "foo": {} })", line);

    ASSERT_TRUE(send_only->read_line(line, 5000));
    EXPECT_EQ(R"({ "SendStatFile": {"id":5,"msg":"dcchange"} })", line);

    // With nobody listening for it an event is still accepted.
    blob_buf_init(&b, 0);
    EXPECT_EQ(0, ubus_send_event(ctx_, "unheard", b.head));
    blob_buf_free(&b);
}

TEST_F(Bus, LostBusLeavesTheLoopRunningWithoutTheSocket) {
    ctx_ = connect_and_add();
    lost = LostRecord{};
    lost.default_cb = ctx_->connection_lost;
    ctx_->connection_lost = record_lost;

    stop_ubusd();
    long long deadline = now_ms() + 5000;
    while (lost.calls == 0 && now_ms() < deadline)
        uloop_run_timeout(50);

    ASSERT_EQ(1, lost.calls);
    EXPECT_FALSE(lost.registered);
    EXPECT_TRUE(lost.eof);
    EXPECT_TRUE(lost.error);
    // The default handler found the socket already out of the loop.
    EXPECT_FALSE(uloop_cancelled);
    EXPECT_FALSE(ctx_->sock.registered);

    blob_buf b{};
    blob_buf_init(&b, 0);
    EXPECT_EQ(UBUS_STATUS_INVALID_ARGUMENT, ubus_send_event(ctx_, "late", b.head));
    blob_buf_free(&b);
}

TEST_F(Bus, ReAddAfterRestartNeedsTheTypeIdReset) {
    ctx_ = connect_and_add();
    ASSERT_NE(0u, demo_type.id);
    stop_ubusd();
    ubus_free(ctx_);
    ctx_ = nullptr;
    start_ubusd();

    ctx_ = ubus_connect(sock_.c_str());
    ASSERT_NE(nullptr, ctx_);
    ubus_add_uloop(ctx_);
    auto l = listener("ubus.object.*");
    wait_listening(*l, ctx_, "ubus.object.probe");

    // The stale type id is sent instead of the signature: the new daemon
    // makes an object without a type.
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    std::string line;
    ASSERT_TRUE(l->read_line(line, 5000));
    EXPECT_EQ(
        "{ \"ubus.object.add\": {\"id\":" + std::to_string(demo_.id) + ",\"path\":\"demo\"} }",
        line);
    EXPECT_EQ("", cli({"list"})->out());
    auto call = cli({"call", "demo", "ret"});
    EXPECT_EQ(4, call->exit_code());
    EXPECT_EQ("Command failed: Not found\n", call->err());
    // The name is taken all the same.
    ubus_object twin = make_demo();
    EXPECT_EQ(UBUS_STATUS_INVALID_ARGUMENT, ubus_add_object(ctx_, &twin));

    ASSERT_EQ(0, ubus_remove_object(ctx_, &demo_));
    EXPECT_EQ(0u, demo_.id);
    EXPECT_EQ(UBUS_STATUS_NOT_FOUND, ubus_remove_object(ctx_, &demo_));
    demo_type.id = 0;
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    EXPECT_EQ("demo\n", cli({"list"})->out());
    EXPECT_EQ(0, cli({"call", "demo", "ret"})->exit_code());
}

TEST_F(Bus, SubscribeCallbackFollowsTheFirstAndLastSubscriber) {
    subscriber_states.clear();
    demo_.subscribe_cb = record_subscribers;
    ctx_ = connect_and_add();
    auto pump_until = [](size_t n) {
        long long deadline = now_ms() + 5000;
        while (subscriber_states.size() < n && now_ms() < deadline)
            uloop_run_timeout(20);
    };

    // Subscribing twice from one client still counts as one subscriber.
    Child sub({UBUS_SIM, "-s", sock_, "subscribe", "demo", "demo"});
    pump_until(1);
    ASSERT_EQ(std::vector<bool>{true}, subscriber_states);
    EXPECT_TRUE(demo_.has_subscribers);

    sub.terminate();
    pump_until(2);
    EXPECT_EQ((std::vector<bool>{true, false}), subscriber_states);
    EXPECT_FALSE(demo_.has_subscribers);

    auto missing = cli({"subscribe", "nosuch"});
    EXPECT_EQ(4, missing->exit_code());
    EXPECT_EQ("Command failed: Not found\n", missing->err());
}

TEST_F(Bus, CallArrivingDuringARequestWaitsForTheLoop) {
    ctx_ = connect_and_add();
    handled = handled_in_request = 0;
    Child call({UBUS_SIM, "-s", sock_, "call", "demo", "ret"});

    // Wait, outside the loop, until the call is at our socket.
    pollfd pfd = {ctx_->sock.fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&pfd, 1, 5000));

    blob_buf b{};
    blob_buf_init(&b, 0);
    in_request = true;
    EXPECT_EQ(0, ubus_send_event(ctx_, "during", b.head));
    in_request = false;
    blob_buf_free(&b);
    EXPECT_EQ(0, handled);

    ASSERT_TRUE(call.wait([] { uloop_run_timeout(10); }));
    EXPECT_EQ(0, call.exit_code()) << call.err();
    EXPECT_EQ(1, handled);
    EXPECT_EQ(0, handled_in_request);
}

TEST_F(Bus, DaemonSurvivesGarbageFromClients) {
    ctx_ = connect_and_add();

    const std::string frames[] = {
        std::string("\xde\xad\xbe\xef garbage that is no frame at all", 36),
        std::string("\xff\xff\xff\xff\0\x04\0\0", 8),                     // absurd length
        std::string("\0\0\0\x14\0\x63\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 20),  // unknown type
        // An event frame whose payload claims more than it carries.
        std::string("\0\0\0\x1c\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x10\0\x83\0\0\xff", 28),
        std::string("\0\0\x10\0\0\x08\0\0", 8),  // a frame cut short, then gone
    };
    for (const std::string &bytes : frames) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un sun{};
        sun.sun_family = AF_UNIX;
        strncpy(sun.sun_path, sock_.c_str(), sizeof(sun.sun_path) - 1);
        ASSERT_EQ(0, connect(fd, reinterpret_cast<sockaddr *>(&sun), sizeof(sun)));
        ASSERT_EQ(ssize_t(bytes.size()), write(fd, bytes.data(), bytes.size()));
        close(fd);
    }

    auto call = cli({"call", "demo", "echo", R"({"msg":"still here"})"});
    EXPECT_EQ(0, call->exit_code());
    EXPECT_EQ("{\n\t\"msg\": \"still here\"\n}\n", call->out());
    EXPECT_FALSE(ubusd_->exited());
}

}  // namespace
