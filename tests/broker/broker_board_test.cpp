// The broker thread of the real daemon on a simulated board with the bus
// stand-in: the DC event, the datagrams it drops, the bus method, and bus
// restarts (reconnection, the object published again, no descriptor leak).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "broker/trace_match.h"
#include "probe/probe_run.h"

namespace {

constexpr double kSpeed = 20;
// Virtual; at kSpeed three real seconds, room for a loaded machine.
constexpr long long kDeadlineMs = 60000;

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
    // Waits until the listener has printed the event TYPE with MSG.
    bool event_seen(const std::string &id, const std::string &type, const std::string &msg) {
        const std::string event =
            "{ \"" + type + "\": {\"id\":" + id + ",\"msg\":\"" + msg + "\"} }\n";
        return b.wait_until([&] { return b.bus_events().find(event) != std::string::npos; },
                            kDeadlineMs);
    }

    // Sockets among the daemon's open descriptors.
    size_t daemon_sockets() const {
        size_t n = 0;
        std::error_code ec;
        const std::string dir = "/proc/" + std::to_string(b.daemon_pid()) + "/fd";
        for (const auto &e : std::filesystem::directory_iterator(dir, ec)) {
            n += std::filesystem::read_symlink(e.path(), ec).string().rfind("socket:", 0) == 0;
        }
        return n;
    }

    scenario::Board b;
};

// A second daemon started beside the first refuses at once, before it
// touches a hardware file, the socket or the bus, so the first one's events
// still come. Datagrams are handled in order, so once the last one's event is
// out every earlier one has been seen: those dropped gave nothing and the
// broker lived on.
TEST_F(BrokerOnBoard, SecondDaemonDcEventMethodAndDroppedDatagrams) {
    ASSERT_TRUE(b.start_bus_listener());
    b.start_daemon(kSpeed);
    const std::string id = wait_object_id();
    ASSERT_NE(id, "");

    const scenario::RunResult second = b.run_daemon();
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.out, "");
    EXPECT_EQ(second.err, "powerbank: not started: another powerbank is running (process " +
                              std::to_string(b.daemon_pid()) + " holds /var/run/powerbank.lock)\n");
    EXPECT_EQ(b.journal_find("gpio", "export").size(), 2u) << "GPIOs exported twice";
    b.dc(false);
    EXPECT_TRUE(event_seen(id, "SendStatFile", "dcchange")) << b.bus_events();
    EXPECT_NE(b.daemon_stderr().find("\nver 1.2\n"), std::string::npos);
    EXPECT_NE(b.daemon_stdout().find("broker_task PID=" + std::to_string(b.daemon_pid()) + "\n"),
              std::string::npos);
    // Only the daemon's own user may put messages on the bus.
    struct stat st;
    ASSERT_EQ(stat(b.path("run/powerbankserver.socket").c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The method answers success whatever the caller sends.
    for (const scenario::RunResult &r :
         {b.bus_call({"-t", "5", "call", "powerbank_broker", "powerbank_broker"}),
          b.bus_call({"call", "powerbank_broker", "powerbank_broker", R"({"other":true})"})}) {
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_TRUE(b.wait_until([&] { return count(b.daemon_stderr(), "\n broker_process \n") == 2; },
                             kDeadlineMs))
        << b.daemon_stderr();

    // Refused texts and fields are the parser's own tests; here the size of
    // the receive buffer and the fields' order and room.
    const std::string t63(63, 't'), m127(127, 'm');
    send_raw({"", "0",                                          // zero length
              "x", "0",                                         // one byte, traced
              "type=Probe\r\nmsg=big\r\n", "600",               // whole in its first 512 bytes
              "type=Probe\r\nmsg=big512\r\n", "512",            // fills the buffer
              "msg=reordered\r\ntype=Probe\r\n", "0",           // either order
              "type=" + t63 + "\r\nmsg=" + m127 + "\r\n", "0",  // the longest fields
              "type=Probe\r\nmsg=last\r\n", "0"});
    ASSERT_TRUE(event_seen(id, "Probe", "last")) << b.bus_events();
    const std::string events = b.bus_events();
    EXPECT_EQ(count(events, "{ \"Probe\": "), 2u) << events;
    EXPECT_NE(events.find("{ \"Probe\": {\"id\":" + id + ",\"msg\":\"reordered\"} }\n"),
              std::string::npos);
    EXPECT_NE(events.find("{ \"" + t63 + "\": {\"id\":" + id + ",\"msg\":\"" + m127 + "\"} }\n"),
              std::string::npos)
        << events;
    const std::string err = b.daemon_stderr();
    EXPECT_NE(err.find("datagram of 600 bytes dropped"), std::string::npos) << err;
    EXPECT_TRUE(has_trace(err, "powerbank_inter_comm_msg_process", "msg=x\n\n")) << err;
    EXPECT_FALSE(has_trace(err, "powerbank_inter_comm_msg_process", "msg=\n\n")) << err;

    // The event loop does not keep SIGTERM from stopping the daemon.
    EXPECT_EQ(b.stop_daemon(), 128 + SIGTERM);
}

// The bus comes late, then goes away and comes back ten times: each time the
// broker reconnects, publishes its object again (with its method) and serves
// a fresh socket, and it holds no more sockets than after its first connection.
TEST_F(BrokerOnBoard, ReconnectsAfterBusRestartsWithoutLeaking) {
    // No bus at first: the broker keeps trying until one comes.
    b.start_daemon(kSpeed);
    const std::string no_bus = "\npowerbank -> Failed to connect to ubus\n";
    ASSERT_TRUE(b.wait_until([&] { return count(b.daemon_stderr(), no_bus) >= 2; }, kDeadlineMs))
        << b.daemon_stderr();
    ASSERT_TRUE(b.start_bus());
    ASSERT_NE(wait_object_id(), "");
    const size_t sockets = daemon_sockets();
    EXPECT_GE(sockets, 2u);  // the bus connection and the local socket

    for (int i = 0; i < 10; ++i) {
        b.stop_bus();
        ASSERT_TRUE(b.wait_until([&] { return object_id().empty(); }, kDeadlineMs));
        ASSERT_TRUE(b.start_bus());
        ASSERT_NE(wait_object_id(), "") << "restart " << i << "\n" << b.daemon_stderr();
    }
    EXPECT_TRUE(b.wait_until([&] { return daemon_sockets() == sockets; }, kDeadlineMs))
        << daemon_sockets() << " sockets, " << sockets << " before";
    // None of them took the place of its standard input (the harness's pipe).
    std::error_code ec;
    const std::string in = "/proc/" + std::to_string(b.daemon_pid()) + "/fd/0";
    EXPECT_EQ(std::filesystem::read_symlink(in, ec).string().rfind("pipe:", 0), 0u) << in;

    // The new connection serves datagrams again.
    const std::string id = object_id();
    ASSERT_TRUE(b.start_bus_listener());
    send_raw({"type=Probe\r\nmsg=again\r\n", "0"});
    EXPECT_TRUE(event_seen(id, "Probe", "again")) << b.bus_events();
}

}  // namespace
