// The broker thread of the real daemon on a simulated board with the bus
// stand-in: the DC event, malformed datagrams, the bus method, and a late and
// restarted bus (reconnection, the object published again).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "probe/probe_run.h"

namespace {

constexpr double kSpeed = 20;
constexpr long long kDeadlineMs = 20000;  // virtual

// A helper process of the test (bus daemon, listener) with its standard output
// in a file, stopped and reaped at the end of its scope. Started through the
// shell so that a cross build's emulator prefix applies.
class Helper {
public:
    Helper(const std::string &command, const std::string &out) : out_(out) {
        const std::string line = "exec ${POWERBANK_EMULATOR} " + command + " >" + out;
        pid_ = fork();
        if (pid_ == 0) {
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~Helper() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    Helper(const Helper &) = delete;
    Helper &operator=(const Helper &) = delete;
    [[nodiscard]] std::string output() const {
        std::ifstream in(out_);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

private:
    pid_t pid_;
    std::string out_;
};

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1)) {
        ++n;
    }
    return n;
}

class BrokerOnBoard : public testing::Test {
protected:
    void SetUp() override {
        if (!scenario::Board::bus_available()) {
            GTEST_SKIP() << "no bus stand-in built";
        }
    }
    void TearDown() override {
        // The daemon runs instrumented in sanitizer builds: its reports land
        // in its standard error and would go unseen otherwise.
        const std::string err = b.daemon_stderr();
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
    }

    std::string bus_sock() const { return b.path("run/ubus.sock"); }

    // The id "ubus list -v" gives the broker's object, as a decimal, or ""
    // while the object is not (or not properly) published.
    std::string object_id() const {
        scenario::RunResult r = b.bus_call({"-v", "list", "powerbank_broker"});
        const std::string head = "'powerbank_broker' @";
        const size_t end = r.out.find('\n');
        if (r.status != 0 || r.out.rfind(head, 0) != 0 || end == std::string::npos ||
            r.out.compare(end, 21, "\n\t\"powerbank_broker\":") != 0) {
            return "";
        }
        return std::to_string(
            std::stoul(r.out.substr(head.size(), end - head.size()), nullptr, 16));
    }
    std::string wait_object_id() {
        std::string id;
        b.wait_until([&] { return !(id = object_id()).empty(); }, kDeadlineMs);
        return id;
    }

    // Bus, listener and daemon up, the broker's object published: its id.
    std::string start_serving() {
        if (!b.start_bus() || !b.start_bus_listener()) {
            return "";
        }
        b.start_daemon(kSpeed);
        return wait_object_id();
    }

    // Sends raw datagrams to the broker's socket from a process on the board:
    // TEXT PAD pairs (padded with 'x' to PAD bytes).
    void send_raw(const std::vector<std::string> &text_pad) {
        std::vector<std::string> argv;
        for (size_t i = 0; i + 1 < text_pad.size(); i += 2) {
            argv.insert(argv.end(), {"raw", text_pad[i], text_pad[i + 1]});
        }
        scenario::RunResult r = probe::run(b, argv, 0);
        EXPECT_EQ(count(r.out, "rc=0\n"), argv.size() / 3) << r.out << r.err;
    }

    scenario::Board b;
};

TEST_F(BrokerOnBoard, DcChangeEventAndMethodCall) {
    const std::string id = start_serving();
    ASSERT_NE(id, "");

    b.dc(false);
    const std::string event = "{ \"SendStatFile\": {\"id\":" + id + ",\"msg\":\"dcchange\"} }\n";
    EXPECT_TRUE(
        b.wait_until([&] { return b.bus_events().find(event) != std::string::npos; }, kDeadlineMs))
        << b.bus_events();

    EXPECT_NE(b.daemon_stderr().find("\nver 1.2\n"), std::string::npos);
    EXPECT_NE(b.daemon_stdout().find("broker_task PID=" + std::to_string(b.daemon_pid()) + "\n"),
              std::string::npos);
    // Only the daemon's own user may put messages on the bus.
    struct stat st;
    ASSERT_EQ(stat(b.path("run/powerbankserver.socket").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The method answers success whatever the caller sends.
    const std::vector<std::string> call{"-t", "5", "call", "powerbank_broker", "powerbank_broker"};
    for (const std::string args : {"", R"({"id":1,"msg":"x"})", R"({"other":true})"}) {
        std::vector<std::string> argv = call;
        if (!args.empty()) {
            argv.push_back(args);
        }
        scenario::RunResult r = b.bus_call(argv);
        EXPECT_EQ(r.status, 0) << args << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(b.wait_until([&] { return count(b.daemon_stderr(), "\n broker_process \n") == 3; },
                             kDeadlineMs))
        << b.daemon_stderr();

    // The event loop does not keep SIGTERM from stopping the daemon.
    EXPECT_EQ(b.stop_daemon(), 128 + SIGTERM);
}

// Datagrams are handled in order, so once the last one's event is out every
// earlier one has been seen: the malformed ones gave nothing and the broker
// lived on.
TEST_F(BrokerOnBoard, MalformedDatagramsGiveNoEvent) {
    const std::string id = start_serving();
    ASSERT_NE(id, "");

    // Malformed texts and the refused fields are the parser's own tests.
    const std::string t63(63, 't'), m127(127, 'm');
    send_raw({"", "0",                                // zero length
              "type=Probe\r\nmsg=big\r\n", "600",     // whole in its first 512 bytes
              "type=Probe\r\nmsg=big512\r\n", "512",  // fills the buffer
              "type=" + std::string(100, 't') + "\r\nmsg=long\r\n", "0",
              "msg=reordered\r\ntype=Probe\r\n", "0",           // either order
              "type=" + t63 + "\r\nmsg=" + m127 + "\r\n", "0",  // the longest fields
              "type=Probe\r\nmsg=last\r\n", "0"});

    const std::string last = "{ \"Probe\": {\"id\":" + id + ",\"msg\":\"last\"} }\n";
    ASSERT_TRUE(
        b.wait_until([&] { return b.bus_events().find(last) != std::string::npos; }, kDeadlineMs))
        << b.bus_events();
    const std::string events = b.bus_events();
    EXPECT_EQ(count(events, "{ \"Probe\": "), 2u) << events;
    EXPECT_NE(events.find("{ \"Probe\": {\"id\":" + id + ",\"msg\":\"reordered\"} }\n"),
              std::string::npos);
    EXPECT_NE(events.find("{ \"" + t63 + "\": {\"id\":" + id + ",\"msg\":\"" + m127 + "\"} }\n"),
              std::string::npos)
        << events;
    EXPECT_EQ(events.find("long"), std::string::npos) << events;

    EXPECT_NE(b.daemon_stderr().find("datagram of 600 bytes dropped"), std::string::npos)
        << b.daemon_stderr();
}

// The bus daemon comes late, then goes away and comes back: the broker
// reconnects, publishes its object again (with its method) and serves a fresh
// socket. The soak restarts the bus many times and watches the descriptors.
TEST_F(BrokerOnBoard, ReconnectsWhenTheBusComesAndComesBack) {
    // No bus at first: the broker keeps trying until one comes.
    b.start_daemon(kSpeed);
    const std::string no_bus = "\npowerbank -> Failed to connect to ubus\n";
    ASSERT_TRUE(b.wait_until([&] { return count(b.daemon_stderr(), no_bus) >= 2; }, kDeadlineMs))
        << b.daemon_stderr();
    const std::string bus_command = std::string(UBUSD_SIM) + " -s " + bus_sock();
    auto bus = std::make_unique<Helper>(bus_command, "/dev/null");
    ASSERT_NE(wait_object_id(), "");
    bus.reset();
    ASSERT_TRUE(b.wait_until([&] { return object_id().empty(); }, kDeadlineMs));
    bus = std::make_unique<Helper>(bus_command, "/dev/null");
    ASSERT_NE(wait_object_id(), "") << b.daemon_stderr();

    // The new connection serves datagrams and calls again.
    const std::string id = object_id();
    Helper listener(std::string(UBUS_SIM) + " -s " + bus_sock() + " listen", b.path("listen.out"));
    b.wait_until(
        [&] {
            return b.bus_call({"-t", "5", "call", "powerbank_broker", "powerbank_broker"}).status ==
                   0;
        },
        kDeadlineMs);
    const std::string event = "{ \"Probe\": {\"id\":" + id + ",\"msg\":\"again\"} }\n";
    EXPECT_TRUE(b.wait_until(
        [&] {
            send_raw({"type=Probe\r\nmsg=again\r\n", "0"});
            return listener.output().find(event) != std::string::npos;
        },
        kDeadlineMs))
        << listener.output();
    EXPECT_EQ(b.bus_call({"-t", "5", "call", "powerbank_broker", "powerbank_broker"}).status, 0);
}

}  // namespace
