// The bus stand-in end to end, as the daemon and the scenario tests rely on
// it: ubusd-sim on a board, an object served by libubus in this process, and
// ubus-sim as the other side, printing what the device's tool prints.
#include <gtest/gtest.h>
#include <libubus.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace {

const auto serve = [] { uloop_run_timeout(10); };  // serves calls while a tool runs

const blobmsg_policy ret_policy[] = {{"code", BLOBMSG_TYPE_INT32}};

// Answers with the status in "code".
int ret_handler(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *msg) {
    blob_attr *tb;
    return blobmsg_parse(ret_policy, 1, &tb, blob_data(msg), blob_len(msg)) == 0 && tb
               ? static_cast<int>(blobmsg_get_u32(tb))
               : 0;
}

const ubus_method demo_methods[] = {UBUS_METHOD("ret", ret_handler, ret_policy)};
ubus_object_type demo_type = UBUS_OBJECT_TYPE("demo", demo_methods);

class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        if (!scenario::Board::bus_available()) {
            GTEST_SKIP() << "no bus stand-in built";
        }
        uloop_handle_sigchld = false;  // the board reaps its own children
        demo_type.id = 0;
        demo_.name = "demo";
        demo_.type = &demo_type;
        demo_.methods = demo_methods;
        demo_.n_methods = ARRAY_SIZE(demo_methods);
        connect();
        ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    }
    void TearDown() override {
        blob_buf_free(&b_);
        if (ctx_ != nullptr) {
            ubus_free(ctx_);
        }
        uloop_done();
    }

    // Starts the bus and connects ctx_ to it.
    void connect() {
        ASSERT_TRUE(board_.start_bus());
        ASSERT_NE(nullptr, ctx_ = ubus_connect(board_.path("run/ubus.sock").c_str()));
        ubus_add_uloop(ctx_);
    }
    // Runs ubus-sim to the end while this process serves its calls.
    scenario::RunResult cli(const std::vector<std::string> &args) {
        return board_.bus_call(args, serve);
    }
    bool events_show(const std::string &text) {
        return board_.wait_until(
            [&] { return board_.bus_events().find(text) != std::string::npos; }, 5000);
    }

    scenario::Board board_;
    ubus_context *ctx_ = nullptr;
    ubus_object demo_{};
    blob_buf b_{};
};

TEST_F(Bus, ListCallAndListenPrintWhatTheDeviceToolPrints) {
    char head[32];
    snprintf(head, sizeof(head), "'demo' @%08x\n", demo_.id);
    const std::string verbose = head + std::string("\t\"ret\":{\"code\":\"Integer\"}\n");
    const std::string failed = "Command failed: ubus call demo ";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out, err;
    };
    const Case cases[] = {
        {{"list"}, 0, "demo\n", ""},
        {{"-v", "list"}, 0, verbose, ""},
        {{"call", "demo", "ret", R"({"code":0})"}, 0, "", ""},
        {{"call", "demo", "ret", R"({"code":42})"}, 214, "", failed + "ret (Unknown error: 42)\n"},
        {{"call", "demo", "nope"}, 253, "", failed + "nope (Method not found)\n"},
        {{"call", "nosuch", "ret"}, 4, "", "Command failed: Not found\n"},
        {{"call", "demo", "ret", R"({"a":1} x)"}, 255, "", "Failed to parse message data\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const scenario::RunResult r = cli(c.args);
        EXPECT_EQ(c.status, r.status);
        EXPECT_EQ(c.out, r.out);
        EXPECT_EQ(c.err, r.err);
    }

    ASSERT_TRUE(board_.start_bus_listener());
    blob_buf_init(&b_, 0);
    blobmsg_add_u32(&b_, "id", 5);
    blobmsg_add_string(&b_, "msg", "dcchange");
    ASSERT_EQ(0, ubus_send_event(ctx_, "SendStatFile", b_.head));
    EXPECT_EQ(0, cli({"send", "foo"}).status);
    EXPECT_TRUE(
        events_show("{ \"SendStatFile\": {\"id\":5,\"msg\":\"dcchange\"} }\n"
                    "{ \"foo\": {} }\n"))
        << board_.bus_events();
}

// What the connection-lost callback saw.
int lost_calls;
uloop_fd lost_sock;
void (*default_lost)(ubus_context *);

// The broker's story: the bus goes away and comes back, the object is added
// again on a new connection.
TEST_F(Bus, LostBusThenReAddNeedsTheTypeIdReset) {
    lost_calls = 0;
    default_lost = ctx_->connection_lost;
    ctx_->connection_lost = [](ubus_context *ctx) {
        lost_calls++;
        lost_sock = ctx->sock;
        default_lost(ctx);
    };
    board_.stop_bus();
    ASSERT_TRUE(board_.wait_until(
        [] {
            serve();
            return lost_calls > 0;
        },
        5000));
    uloop_run_timeout(0);
    // The socket left the loop before the callback, so the default handler
    // did not end the loop; the callback ran once.
    EXPECT_EQ(1, lost_calls);
    EXPECT_FALSE(lost_sock.registered);
    EXPECT_TRUE(lost_sock.eof && lost_sock.error);
    EXPECT_FALSE(uloop_cancelled);
    blob_buf_init(&b_, 0);
    EXPECT_EQ(UBUS_STATUS_INVALID_ARGUMENT, ubus_send_event(ctx_, "late", b_.head));

    ubus_free(ctx_);
    ctx_ = nullptr;
    connect();
    ASSERT_TRUE(board_.start_bus_listener());
    // The stale type id is sent instead of the signature: the new daemon
    // makes an object without a type, announced and holding the name, but not
    // listed or callable.
    ASSERT_NE(0u, demo_type.id);
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    EXPECT_TRUE(events_show("{ \"ubus.object.add\": {\"id\":" + std::to_string(demo_.id) +
                            ",\"path\":\"demo\"} }\n"))
        << board_.bus_events();
    EXPECT_EQ("", cli({"list"}).out);
    const scenario::RunResult call = cli({"call", "demo", "ret"});
    EXPECT_EQ(4, call.status);
    EXPECT_EQ("Command failed: Not found\n", call.err);

    ASSERT_EQ(0, ubus_remove_object(ctx_, &demo_));
    demo_type.id = 0;
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    EXPECT_EQ("demo\n", cli({"list"}).out);
    EXPECT_EQ(0, cli({"call", "demo", "ret"}).status);
}

// What event handlers heard: "TYPE MSG" per event.
std::string heard;
void hear(ubus_context *, ubus_event_handler *, const char *type, blob_attr *msg) {
    const blobmsg_policy policy = {"msg", BLOBMSG_TYPE_STRING};
    blob_attr *tb;
    blobmsg_parse(&policy, 1, &tb, blob_data(msg), blob_len(msg));
    heard += std::string(type) + " " + (tb != nullptr ? blobmsg_get_string(tb) : "-") + "\n";
}

// The companion's story: a handler hears each matching event once, finds
// objects by path, and on a new connection must be registered with its id
// reset, as the device's bus refuses the old one.
TEST_F(Bus, EventHandlersHearTheirPatternsOnceAndNeedTheirIdResetOnANewConnection) {
    heard.clear();
    ubus_event_handler ev{};
    ev.cb = hear;
    for (const char *pattern : {"Send*", "SendStatFile", "ubus.object.remove"}) {
        ASSERT_EQ(0, ubus_register_event_handler(ctx_, &ev, pattern));
    }
    for (const char *type : {"SendStatFile", "SendStatChang", "Sen", "other"}) {
        blob_buf_init(&b_, 0);
        blobmsg_add_string(&b_, "msg", type);
        ASSERT_EQ(0, ubus_send_event(ctx_, type, b_.head));
    }
    uint32_t id = 0;
    ASSERT_EQ(0, ubus_lookup_id(ctx_, "demo", &id));
    EXPECT_EQ(demo_.id, id);
    ASSERT_EQ(0, ubus_remove_object(ctx_, &demo_));
    EXPECT_EQ(UBUS_STATUS_NOT_FOUND, ubus_lookup_id(ctx_, "demo", &id));
    const std::string expected =
        "SendStatFile SendStatFile\nSendStatChang SendStatChang\nubus.object.remove -\n";
    EXPECT_TRUE(board_.wait_until(
        [&] {
            serve();
            return heard.size() >= expected.size();
        },
        5000));
    EXPECT_EQ(expected, heard);

    board_.stop_bus();
    ubus_free(ctx_);
    ctx_ = nullptr;
    connect();
    EXPECT_EQ(UBUS_STATUS_NOT_FOUND, ubus_register_event_handler(ctx_, &ev, "x"));
    ev.obj.id = 0;
    EXPECT_EQ(0, ubus_register_event_handler(ctx_, &ev, "x"));
}

}  // namespace
