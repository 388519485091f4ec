// The bus libraries as the daemon uses them: the event payload's bytes, the
// status texts and the event loop's passes. (Parsing and a hang-up are
// exercised end to end by the bus tests.)
extern "C" {
#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
}
#include <fcntl.h>
#include <gtest/gtest.h>
#include <libubus.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

std::string hex_words(const blob_attr *attr) {
    const auto *p = reinterpret_cast<const unsigned char *>(attr);
    std::string out;
    char word[4];
    for (size_t i = 0; i < blob_pad_len(attr); i++) {
        snprintf(word, sizeof(word), i && i % 4 == 0 ? " %02x" : "%02x", p[i]);
        out += word;
    }
    return out;
}

// Built the way the daemon builds it: a re-initialised buffer each time.
TEST(BlobBuf, EventPayloadMatchesTheDeviceEncoding) {
    const std::string want =
        "0000002c 85000010 00026964 00000000 12345678 83000015 00036d73 67000000 "
        "64636368 616e6765 00000000";
    blob_buf b{};
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(0, blob_buf_init(&b, 0));
        blobmsg_add_u32(&b, "id", 0x12345678);
        blobmsg_add_string(&b, "msg", "dcchange");
        EXPECT_EQ(want, hex_words(b.head)) << round;
    }
    blob_buf_free(&b);
    EXPECT_TRUE(!b.head && !b.buf && !b.buflen);
}

// Callers print these ("Command failed: ... (<text>)"), word for word as the
// device's library has them.
TEST(UbusStrerror, TextsMatchTheDeviceLibrary) {
    std::string texts;
    for (int i = 0; i <= __UBUS_STATUS_LAST; i++)
        texts += ubus_strerror(i) + std::string("|");
    EXPECT_EQ(
        "Success|Invalid command|Invalid argument|Method not found|Not found|No response|"
        "Permission denied|Request timed out|Operation not supported|Unknown error|"
        "Connection failed|Out of memory|Parsing message data failed|System error|"
        "Unknown error: 14|",
        texts);
    EXPECT_STREQ("Unknown error: -1", ubus_strerror(-1));
}

// (descriptor, events) of each callback in order. The data is left unread, so
// a level-triggered descriptor stays ready.
std::vector<std::pair<int, unsigned int>> calls;

class Uloop : public ::testing::Test {
protected:
    void SetUp() override {
        calls.clear();
        ASSERT_EQ(0, uloop_init());
        for (int i = 0; i < 2; i++) {
            ASSERT_EQ(0, pipe(pipes[i]));
            fds[i].fd = pipes[i][0];
            fds[i].cb = [](uloop_fd *u, unsigned int events) { calls.emplace_back(u->fd, events); };
        }
    }
    void TearDown() override {
        uloop_done();
        for (auto &p : pipes)
            for (int fd : p)
                close(fd);
    }
    // Makes pipe i readable and watches its read end.
    void ready(int i) {
        ASSERT_EQ(1, write(pipes[i][1], "x", 1));
        ASSERT_EQ(0, uloop_fd_add(&fds[i], ULOOP_READ));
    }
    int pipes[2][2];
    uloop_fd fds[2]{};
};

// An add makes the descriptor non-blocking; a call with a timeout >= 0 is one
// pass: at most one descriptor callback.
TEST_F(Uloop, AddSetsNonBlockAndEachCallIsOnePass) {
    ready(0);
    ready(1);
    EXPECT_TRUE(fds[0].registered);
    EXPECT_TRUE(fcntl(fds[0].fd, F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(0, uloop_run_timeout(1000));
    EXPECT_EQ(1u, calls.size());
    EXPECT_EQ(0, uloop_run_timeout(1000));
    ASSERT_EQ(2u, calls.size());
    EXPECT_NE(calls[0].first, calls[1].first);  // the other one had to wait
    EXPECT_EQ(unsigned(ULOOP_READ), calls[0].second);
}

// Entry forgets an earlier uloop_end(); an end or a termination signal from
// inside stops the loop (returning the signal's number) and leaves the flag set.
TEST_F(Uloop, RunForgetsAnEarlierEndButStopsOnOneFromInside) {
    ready(0);
    uloop_end();
    EXPECT_EQ(0, uloop_run_timeout(1000));
    EXPECT_EQ(1u, calls.size());
    EXPECT_FALSE(uloop_cancelled);
    uloop_fd_delete(&fds[0]);

    uloop_timeout t{};
    t.cb = [](uloop_timeout *) { uloop_end(); };
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(0, uloop_run_timeout(-1));
    EXPECT_TRUE(uloop_cancelled);
    t.cb = [](uloop_timeout *) { raise(SIGTERM); };
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(SIGTERM, uloop_run_timeout(-1));
    EXPECT_TRUE(uloop_cancelled);
}

}  // namespace
