// The bus libraries as the daemon uses them: the event payload's bytes and
// how the event loop ends. (Parsing and a hang-up are exercised end to end by
// the bus tests.)
extern "C" {
#include <libubox/blobmsg.h>
#include <libubox/uloop.h>
}
#include <gtest/gtest.h>
#include <libubus.h>
#include <unistd.h>

#include <cstdio>
#include <string>

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

// Entry forgets an earlier uloop_end(), so a loss seen before the loop runs
// needs a flag of its own; an end from inside stops the loop and leaves the
// flag set.
TEST(Uloop, RunForgetsAnEarlierEndButStopsOnOneFromInside) {
    ASSERT_EQ(0, uloop_init());
    static int fired;
    uloop_timeout t{};
    t.cb = [](uloop_timeout *) {
        fired++;
        uloop_end();
    };
    uloop_end();
    uloop_timeout_set(&t, 0);
    EXPECT_EQ(0, uloop_run_timeout(-1));
    EXPECT_EQ(1, fired);
    EXPECT_TRUE(uloop_cancelled);
    uloop_done();
}

}  // namespace
