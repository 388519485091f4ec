// The event loop's pass structure and descriptor handling, as the broker
// relies on them. (A hang-up is covered end to end by the lost-bus test.)
extern "C" {
#include <libubox/uloop.h>
}
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

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

// A call with a timeout >= 0 is one pass: at most one descriptor callback, and
// a timer that falls due during the wait runs on the next call.
TEST_F(Uloop, EachCallIsOnePass) {
    ready(0);
    ready(1);
    EXPECT_EQ(0, uloop_run_timeout(1000));
    EXPECT_EQ(1u, calls.size());
    EXPECT_EQ(0, uloop_run_timeout(1000));
    ASSERT_EQ(2u, calls.size());
    EXPECT_NE(calls[0].first, calls[1].first);  // the other one had to wait
    EXPECT_EQ(unsigned(ULOOP_READ), calls[0].second);

    static int fired;
    fired = 0;
    uloop_timeout t{};
    t.cb = [](uloop_timeout *) { fired++; };
    for (uloop_fd &u : fds)
        uloop_fd_delete(&u);
    ASSERT_EQ(0, uloop_timeout_set(&t, 20));
    EXPECT_EQ(0, uloop_run_timeout(5000));
    EXPECT_EQ(0, fired);
    EXPECT_EQ(0, uloop_run_timeout(0));
    EXPECT_EQ(1, fired);
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
    EXPECT_EQ(0, uloop_run());
    EXPECT_TRUE(uloop_cancelled);
    t.cb = [](uloop_timeout *) { raise(SIGTERM); };
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(SIGTERM, uloop_run());
    EXPECT_TRUE(uloop_cancelled);
}

// The first add without ULOOP_BLOCKING makes the descriptor non-blocking; a
// re-add or a blocking add leaves the file flags alone.
TEST_F(Uloop, FirstAddWithoutBlockingSetsNonBlock) {
    auto nonblocking = [](int fd) { return (fcntl(fd, F_GETFL) & O_NONBLOCK) != 0; };
    ASSERT_EQ(0, uloop_fd_add(&fds[0], ULOOP_READ));
    EXPECT_TRUE(nonblocking(fds[0].fd));
    EXPECT_TRUE(fds[0].registered);
    fcntl(fds[0].fd, F_SETFL, 0);
    ASSERT_EQ(0, uloop_fd_add(&fds[0], ULOOP_READ | ULOOP_WRITE));
    EXPECT_FALSE(nonblocking(fds[0].fd));

    ASSERT_EQ(0, uloop_fd_add(&fds[1], ULOOP_READ | ULOOP_BLOCKING));
    EXPECT_FALSE(nonblocking(fds[1].fd));
    EXPECT_EQ(9, fds[1].flags);
}

}  // namespace
