// The event loop's pass structure and descriptor handling, as the broker
// relies on them.
extern "C" {
#include <libubox/uloop.h>
}
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace {

struct Recorder {
    uloop_fd fd{};
    std::vector<unsigned int> events;
    // State of the record when the callback ran.
    bool registered_in_cb = true;
    bool eof_in_cb = false;
    bool error_in_cb = false;
};

Recorder *recorders[4];

void record(uloop_fd *u, unsigned int events) {
    for (Recorder *r : recorders) {
        if (r && &r->fd == u) {
            r->events.push_back(events);
            r->registered_in_cb = u->registered;
            r->eof_in_cb = u->eof;
            r->error_in_cb = u->error;
            // The data is left unread: a level-triggered fd stays ready.
        }
    }
}

class Uloop : public ::testing::Test {
protected:
    void SetUp() override {
        uloop_handle_sigchld = false;
        ASSERT_EQ(0, uloop_init());
        for (auto &p : pipes)
            ASSERT_EQ(0, pipe(p));
    }
    void TearDown() override {
        uloop_done();
        for (auto &p : pipes) {
            close(p[0]);
            close(p[1]);
        }
        for (auto &r : recorders)
            r = nullptr;
    }
    void watch(Recorder &r, int slot, int fd, unsigned int flags) {
        recorders[slot] = &r;
        r.fd.fd = fd;
        r.fd.cb = record;
        ASSERT_EQ(0, uloop_fd_add(&r.fd, flags));
    }
    int pipes[2][2];
};

TEST_F(Uloop, EachCallRunsOnePassAndOneCallback) {
    Recorder a, b;
    watch(a, 0, pipes[0][0], ULOOP_READ);
    watch(b, 1, pipes[1][0], ULOOP_READ);
    ASSERT_EQ(1, write(pipes[0][1], "x", 1));
    ASSERT_EQ(1, write(pipes[1][1], "y", 1));

    EXPECT_EQ(0, uloop_run_timeout(1000));
    EXPECT_EQ(1u, a.events.size() + b.events.size());
    EXPECT_EQ(0, uloop_run_timeout(1000));
    // Both are level-triggered and still readable; the other one had to wait.
    EXPECT_EQ(1u, a.events.size());
    EXPECT_EQ(1u, b.events.size());
    EXPECT_EQ(unsigned(ULOOP_READ), a.events.at(0));
}

TEST_F(Uloop, TimerDueDuringTheWaitRunsOnTheNextCall) {
    static int fired;
    fired = 0;
    uloop_timeout t{};
    t.cb = [](uloop_timeout *) { fired++; };
    ASSERT_EQ(0, uloop_timeout_set(&t, 20));

    EXPECT_EQ(0, uloop_run_timeout(5000));
    EXPECT_EQ(0, fired);
    EXPECT_EQ(0, uloop_run_timeout(0));
    EXPECT_EQ(1, fired);
}

TEST_F(Uloop, RunTimeoutForgetsAnEarlierEnd) {
    Recorder a;
    watch(a, 0, pipes[0][0], ULOOP_READ);
    ASSERT_EQ(1, write(pipes[0][1], "x", 1));

    uloop_end();
    EXPECT_EQ(0, uloop_run_timeout(1000));
    EXPECT_EQ(1u, a.events.size());
    EXPECT_FALSE(uloop_cancelled);

    // An end from inside the loop stops it; the flag stays set afterwards.
    uloop_timeout t{};
    t.cb = [](uloop_timeout *) { uloop_end(); };
    uloop_fd_delete(&a.fd);
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(0, uloop_run());
    EXPECT_TRUE(uloop_cancelled);
}

TEST_F(Uloop, TerminationSignalEndsTheLoopWithItsNumber) {
    uloop_timeout t{};
    t.cb = [](uloop_timeout *) { raise(SIGTERM); };
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(SIGTERM, uloop_run());
    EXPECT_TRUE(uloop_cancelled);
}

TEST_F(Uloop, FirstAddWithoutBlockingSetsNonBlockOnce) {
    Recorder a, b;
    watch(a, 0, pipes[0][0], ULOOP_READ);
    EXPECT_TRUE(fcntl(pipes[0][0], F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(a.fd.registered);
    EXPECT_EQ(ULOOP_READ, a.fd.flags);

    // A re-add leaves the file flags alone.
    fcntl(pipes[0][0], F_SETFL, fcntl(pipes[0][0], F_GETFL) & ~O_NONBLOCK);
    ASSERT_EQ(0, uloop_fd_add(&a.fd, ULOOP_READ | ULOOP_WRITE));
    EXPECT_FALSE(fcntl(pipes[0][0], F_GETFL) & O_NONBLOCK);

    watch(b, 1, pipes[1][0], ULOOP_READ | ULOOP_BLOCKING);
    EXPECT_FALSE(fcntl(pipes[1][0], F_GETFL) & O_NONBLOCK);
    EXPECT_EQ(9, b.fd.flags);

    // Neither READ nor WRITE: the same as a delete.
    ASSERT_EQ(0, uloop_fd_add(&b.fd, ULOOP_BLOCKING));
    EXPECT_FALSE(b.fd.registered);
    EXPECT_EQ(0, b.fd.flags);
    EXPECT_EQ(0, uloop_fd_delete(&b.fd));
}

TEST_F(Uloop, HangUpUnregistersBeforeTheCallback) {
    int sv[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, sv));
    Recorder a;
    watch(a, 0, sv[0], ULOOP_READ | ULOOP_BLOCKING);
    close(sv[1]);

    EXPECT_EQ(0, uloop_run_timeout(1000));
    ASSERT_EQ(1u, a.events.size());
    EXPECT_FALSE(a.registered_in_cb);
    EXPECT_TRUE(a.eof_in_cb);
    EXPECT_TRUE(a.error_in_cb);

    // Gone from the loop: no second callback.
    EXPECT_EQ(0, uloop_run_timeout(50));
    EXPECT_EQ(1u, a.events.size());
    close(sv[0]);
}

}  // namespace
