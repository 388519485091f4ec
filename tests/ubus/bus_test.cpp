// The bus stand-in end to end: a real ubusd-sim on a socket of its own, an
// object served by libubus in this process, and ubus-sim as the other side.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libubus.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}
const auto nap = [] { usleep(1000); };
const auto serve = [] { uloop_run_timeout(10); };  // serves calls while a child runs

// Runs step() until done() holds or timeout_ms have passed; says whether done.
template <typename Done, typename Step>
bool until(Done done, Step step, int timeout_ms = 5000) {
    for (long long end = now_ms() + timeout_ms; !done(); step()) {
        if (now_ms() > end)
            return false;
    }
    return true;
}

// A child process with its standard output and error going to files.
class Child {
public:
    // Writes to OUTPUT.out and OUTPUT.err.
    Child(std::vector<std::string> argv, const std::string &output)
        : out_path_(output + ".out"), err_path_(output + ".err") {
        // A cross build starts its programs through the emulator prefix; the
        // shell splits it into words and then gives way to the program.
        argv.insert(argv.begin(), {"/bin/sh", "-c", "exec $POWERBANK_EMULATOR \"$@\"", "sh"});
        std::vector<char *> args;
        for (std::string &a : argv)
            args.push_back(&a[0]);
        args.push_back(nullptr);
        if ((pid_ = fork()) == 0) {
            dup2(open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
            execv(args[0], args.data());
            _exit(127);
        }
    }
    ~Child() { stop(SIGKILL); }

    std::string out() const { return slurp(out_path_); }
    std::string err() const { return slurp(err_path_); }
    int exit_code() const { return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1; }
    bool exited() {
        if (pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_)
            pid_ = -1;
        return pid_ < 0;
    }
    // Waits for the exit, running pump() meanwhile (e.g. the event loop that
    // serves the child's calls).
    bool wait(void (*pump)() = nap) {
        return until([this] { return exited(); }, pump, 10000);
    }
    bool stop(int sig = SIGTERM) {
        if (!exited())
            kill(pid_, sig);
        return wait();
    }

    // Next line of standard output without its newline; "" when none comes.
    std::string next_line(int timeout_ms = 5000) {
        std::string out;
        size_t nl, start = pos_;
        auto have_line = [&] { return (nl = (out = this->out()).find('\n', pos_)) != out.npos; };
        if (!until(have_line, nap, timeout_ms))
            return "";
        pos_ = nl + 1;
        return out.substr(start, nl - start);
    }

private:
    static std::string slurp(const std::string &path) {
        std::ifstream f(path);
        return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    }

    std::string out_path_, err_path_;
    pid_t pid_ = -1;
    int status_ = -1;
    size_t pos_ = 0;
};

// Replies with the caller's fields.
int echo_handler(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *,
                 blob_attr *msg) {
    return ubus_send_reply(ctx, req, msg);
}

// Answers with the status in "code"; counts calls.
int handled;

int ret_handler(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *msg) {
    handled++;
    const blobmsg_policy pol = {"code", BLOBMSG_TYPE_INT32};
    blob_attr *tb;
    return blobmsg_parse(&pol, 1, &tb, blob_data(msg), blob_len(msg)) == 0 && tb
               ? static_cast<int>(blobmsg_get_u32(tb))
               : 0;
}

const blobmsg_policy echo_policy[] = {
    {"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}, {"on", BLOBMSG_TYPE_BOOL}};
const ubus_method demo_methods[] = {
    UBUS_METHOD("echo", echo_handler, echo_policy),
    UBUS_METHOD_NOARG("ret", ret_handler),
};
ubus_object_type demo_type = UBUS_OBJECT_TYPE("demo", demo_methods);

// has_subscribers at each subscribe callback.
std::vector<bool> subscriber_states;

class Bus : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/ubus-test-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir_ = tmpl;
        sock_ = dir_ + "/run/ubus/ubus.sock";  // ubusd-sim makes the directories
        uloop_handle_sigchld = false;          // the tests wait for their own children
        demo_type.id = 0;
        demo_.name = "demo";
        demo_.type = &demo_type;
        demo_.methods = demo_methods;
        demo_.n_methods = ARRAY_SIZE(demo_methods);
        subscriber_states.clear();
        demo_.subscribe_cb = [](ubus_context *, ubus_object *obj) {
            subscriber_states.push_back(obj->has_subscribers);
        };
        start_ubusd();
        ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    }
    void TearDown() override {
        blob_buf_free(&b_);
        ubus_free(ctx_);
        ubusd_.reset();
        uloop_done();
        (void)system(("rm -rf '" + dir_ + "'").c_str());
    }

    // Starts ubusd-sim and connects ctx_ to it once it answers.
    void start_ubusd() {
        ubusd_.reset(new Child({UBUSD_SIM, "-s", sock_}, dir_ + "/ubusd"));
        auto up = [&] { return (ctx_ = ubus_connect(sock_.c_str())) || ubusd_->exited(); };
        ASSERT_TRUE(until(up, nap)) << "ubusd-sim did not come up";
        ASSERT_NE(nullptr, ctx_) << ubusd_->err();
        ubus_add_uloop(ctx_);
    }
    // An event whose one field is "n": n.
    int send_event(const std::string &type, int n = 0) {
        blob_buf_init(&b_, 0);
        blobmsg_add_u32(&b_, "n", n);
        return ubus_send_event(ctx_, type.c_str(), b_.head);
    }

    std::unique_ptr<Child> ubus_sim(std::vector<std::string> args) {
        args.insert(args.begin(), {UBUS_SIM, "-s", sock_});
        return std::make_unique<Child>(args, dir_ + "/" + std::to_string(children_++));
    }
    // Runs ubus-sim to the end while this process serves its calls.
    std::unique_ptr<Child> cli(std::vector<std::string> args) {
        auto c = ubus_sim(std::move(args));
        EXPECT_TRUE(c->wait(serve)) << "ubus-sim did not finish";
        return c;
    }

    // Sends numbered probes until the listener prints the last one sent: it
    // is listening then, with no lines pending.
    void wait_listening(Child &l, const std::string &type = "probe") {
        std::string line, want;
        for (int n = 0; n < 50 && (n == 0 || line != want); n++) {
            ASSERT_EQ(0, send_event(type, n));
            want = "{ \"" + type + "\": {\"n\":" + std::to_string(n) + "} }";
            while (line != want && !(line = l.next_line(100)).empty()) {
            }
        }
        ASSERT_EQ(want, line);
    }

    std::string dir_, sock_;
    int children_ = 0;
    std::unique_ptr<Child> ubusd_;
    ubus_context *ctx_ = nullptr;
    ubus_object demo_{};
    blob_buf b_{};
};

TEST_F(Bus, ListAndCallPrintWhatTheDeviceToolPrints) {
    char head[32];
    snprintf(head, sizeof(head), "'demo' @%08x\n", demo_.id);
    const std::string verbose = head + std::string(
                                           "\t\"echo\":{\"id\":\"Integer\",\"msg\":\"String\","
                                           "\"on\":\"Boolean\"}\n\t\"ret\":{}\n");
    // A string long enough to make the buffers grow while a table is open.
    const std::string long_text(600, 'x');
    const std::string failed = "Command failed: ubus call demo ";
    const std::string not_found = "Command failed: Not found\n";
    const std::string bad_data = "Failed to parse message data\n";
    struct Case {
        std::vector<std::string> args;
        int exit_code;
        std::string out, err;
    };
    const Case cases[] = {
        {{"list"}, 0, "demo\n", ""},
        {{"-v", "list"}, 0, verbose, ""},
        {{"list", "demo2"}, 4, "", not_found},
        {{"call", "demo", "echo",
          R"({"id":5,"msg":"a\"b","t":{"x":[1,true,")" + long_text +
              R"("]},"e":{},"big":-12345678901,"u":"\u00e9\t"})"},
         0,
         "{\n\t\"id\": 5,\n\t\"msg\": \"a\\\"b\",\n\t\"t\": {\n\t\t\"x\": "
         "[\n\t\t\t1,\n\t\t\ttrue,\n\t\t\t\"" +
             long_text +
             "\"\n\t\t]\n\t},\n\t\"e\": {\n\t\t\n\t},\n\t\"big\": -12345678901,\n\t\"u\": "
             "\"\xc3\xa9\\t\"\n}\n",
         ""},
        {{"call", "demo", "echo"}, 0, "{\n\t\n}\n", ""},
        {{"call", "demo", "ret", R"({"code":0})"}, 0, "", ""},
        {{"call", "demo", "ret", R"({"code":42})"}, 214, "", failed + "ret (Unknown error: 42)\n"},
        {{"call", "demo", "ret", R"({"code":4})"}, 252, "", failed + "ret (Not found)\n"},
        {{"call", "demo", "nope"}, 253, "", failed + "nope (Method not found)\n"},
        {{"call", "nosuch", "echo"}, 4, "", not_found},
        {{"subscribe", "nosuch"}, 4, "", not_found},
        {{"call", "demo", "echo", "[1]"}, 255, "", bad_data},
        {{"call", "demo", "echo", R"({"a":1} x)"}, 255, "", bad_data},
        {{"call", "demo", "echo", R"({"s":"\q"})"}, 255, "", bad_data},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        auto r = cli(c.args);
        EXPECT_EQ(c.exit_code, r->exit_code());
        EXPECT_EQ(c.out, r->out());
        EXPECT_EQ(c.err, r->err());
    }

    // Status 2 comes with the usage text.
    auto inval = cli({"call", "demo", "ret", R"({"code":2})"});
    EXPECT_EQ(254, inval->exit_code());
    EXPECT_EQ(0u, inval->err().find(failed + "ret (Invalid argument)\nUsage:"));
}

TEST_F(Bus, ListenPrintsEventsInTheDeviceFormat) {
    auto all = ubus_sim({"listen"});
    wait_listening(*all);

    blob_buf_init(&b_, 0);
    blobmsg_add_u32(&b_, "id", 5);
    blobmsg_add_string(&b_, "msg", "dcchange");
    ASSERT_EQ(0, ubus_send_event(ctx_, "SendStatFile", b_.head));
    EXPECT_EQ(0, cli({"send", "foo"})->exit_code());

    EXPECT_EQ(R"({ "SendStatFile": {"id":5,"msg":"dcchange"} })", all->next_line());
    EXPECT_EQ(R"({ "foo": {} })", all->next_line());
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
    // Stopped as an init script would, ubusd-sim removes its socket file.
    ubusd_->stop();
    EXPECT_EQ(0, ubusd_->exit_code());
    struct stat st;
    EXPECT_NE(0, stat(sock_.c_str(), &st)) << "socket file left behind";
    until([] { return lost_calls > 0; }, serve);
    uloop_run_timeout(0);
    // The socket left the loop before the callback, so the default handler
    // did not end the loop; the callback ran once.
    EXPECT_EQ(1, lost_calls);
    EXPECT_FALSE(lost_sock.registered);
    EXPECT_TRUE(lost_sock.eof && lost_sock.error);
    EXPECT_FALSE(uloop_cancelled);
    EXPECT_EQ(UBUS_STATUS_INVALID_ARGUMENT, send_event("late"));

    ubus_free(ctx_);
    ctx_ = nullptr;
    start_ubusd();
    auto l = ubus_sim({"listen", "ubus.object.*"});
    wait_listening(*l, "ubus.object.probe");
    // The stale type id is sent instead of the signature: the new daemon
    // makes an object without a type, announced and holding the name, but not
    // listed or callable.
    ASSERT_NE(0u, demo_type.id);
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    EXPECT_EQ(
        "{ \"ubus.object.add\": {\"id\":" + std::to_string(demo_.id) + ",\"path\":\"demo\"} }",
        l->next_line());
    EXPECT_EQ("", cli({"list"})->out());
    auto call = cli({"call", "demo", "ret"});
    EXPECT_EQ(4, call->exit_code());
    EXPECT_EQ("Command failed: Not found\n", call->err());

    ASSERT_EQ(0, ubus_remove_object(ctx_, &demo_));
    demo_type.id = 0;
    ASSERT_EQ(0, ubus_add_object(ctx_, &demo_));
    EXPECT_EQ("demo\n", cli({"list"})->out());
    EXPECT_EQ(0, cli({"call", "demo", "ret"})->exit_code());
}

TEST_F(Bus, SubscribeCallbackFollowsTheFirstAndLastSubscriber) {
    // Subscribing twice from one client still counts as one subscriber.
    auto sub = ubus_sim({"subscribe", "demo", "demo"});
    until([] { return subscriber_states.size() >= 1; }, serve);
    EXPECT_EQ(std::vector<bool>{true}, subscriber_states);
    sub->stop();
    until([] { return subscriber_states.size() >= 2; }, serve);
    EXPECT_EQ((std::vector<bool>{true, false}), subscriber_states);
    EXPECT_FALSE(demo_.has_subscribers);
}

TEST_F(Bus, CallArrivingDuringARequestWaitsForTheLoop) {
    handled = 0;
    auto call = ubus_sim({"call", "demo", "ret"});

    // Wait, outside the loop, until the call is at our socket.
    pollfd pfd = {ctx_->sock.fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&pfd, 1, 5000));
    EXPECT_EQ(0, send_event("during"));
    EXPECT_EQ(0, handled);  // not served from inside the request

    ASSERT_TRUE(call->wait(serve));
    EXPECT_EQ(0, call->exit_code()) << call->err();
    EXPECT_EQ(1, handled);
}

}  // namespace
