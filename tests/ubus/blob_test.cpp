// Encoding and parsing of blob/blobmsg attributes, byte for byte where the
// device's libraries fix the layout.
extern "C" {
#include <libubox/blobmsg.h>
}
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cerrno>
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

class BlobBuf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, blob_buf_init(&b, 0)); }
    void TearDown() override { blob_buf_free(&b); }
    // Parses b's fields with one policy entry.
    int parse(const blobmsg_policy &pol, blob_attr **tb) {
        return blobmsg_parse(&pol, 1, tb, blob_data(b.head), blob_len(b.head));
    }
    blob_buf b{};
};

// The event the daemon sends, built the way it builds it: a re-initialised
// buffer each time, the helpers giving the same bytes as the plain field adds.
TEST_F(BlobBuf, EventPayloadMatchesTheDeviceEncoding) {
    const std::string want =
        "0000002c 85000010 00026964 00000000 12345678 83000015 00036d73 67000000 "
        "64636368 616e6765 00000000";
    uint32_t be = htonl(0x12345678);
    ASSERT_EQ(0, blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "id", &be, 4));
    ASSERT_EQ(0, blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "msg", "dcchange", 9));
    EXPECT_EQ(want, hex_words(b.head));

    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(0, blob_buf_init(&b, 0));
        blobmsg_add_u32(&b, "id", 0x12345678);
        blobmsg_add_string(&b, "msg", "dcchange");
        EXPECT_EQ(want, hex_words(b.head)) << round;
    }
    blob_buf_free(&b);
    EXPECT_TRUE(!b.head && !b.buf && !b.buflen);
}

// Names match exactly and need the policy's type (UNSPEC any, CAST_INT64 any
// integer); the first duplicate wins; unnamed attributes and unnamed policy
// entries are skipped.
TEST_F(BlobBuf, ParseRules) {
    blobmsg_add_string(&b, "msg", "first");
    blobmsg_add_string(&b, "msg", "second");
    blobmsg_add_string(&b, "id", "5");
    blobmsg_add_u8(&b, "on", 1);
    blobmsg_add_u16(&b, "n16", 3);
    blob_put_u32(&b, 9, 1);

    struct Case {
        blobmsg_policy pol;
        const char *want;  // the value for a string, else the name; nullptr: no match
    };
    const Case cases[] = {
        {{"msg", BLOBMSG_TYPE_STRING}, "first"},   {{"id", BLOBMSG_TYPE_INT32}, nullptr},
        {{"id", BLOBMSG_TYPE_UNSPEC}, "5"},        {{"ms", BLOBMSG_TYPE_STRING}, nullptr},
        {{"on", BLOBMSG_TYPE_BOOL}, "on"},         {{"n16", BLOBMSG_CAST_INT64}, "n16"},
        {{"on", BLOBMSG_CAST_INT64}, "on"},        {{"msg", BLOBMSG_CAST_INT64}, nullptr},
        {{nullptr, BLOBMSG_TYPE_STRING}, nullptr},
    };
    for (const Case &c : cases) {
        blob_attr *tb = reinterpret_cast<blob_attr *>(1);
        SCOPED_TRACE(c.pol.name ? c.pol.name : "(null)");
        ASSERT_EQ(0, parse(c.pol, &tb));
        if (!c.want)
            EXPECT_EQ(nullptr, tb);
        else
            EXPECT_STREQ(c.want, blobmsg_type(tb) == BLOBMSG_TYPE_STRING ? blobmsg_get_string(tb)
                                                                         : blobmsg_name(tb));
    }
}

// Empty arguments give -EINVAL with the table cleared; a string without its
// NUL, an int of the wrong size or an attribute longer than the data give -1.
TEST_F(BlobBuf, ParseRefusesEmptyAndMalformedInput) {
    const blobmsg_policy pol[] = {{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2] = {b.head, b.head};
    EXPECT_EQ(-EINVAL, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));
    EXPECT_TRUE(!tb[0] && !tb[1]);
    EXPECT_EQ(-EINVAL, blobmsg_parse(pol, 2, tb, nullptr, 16));

    blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "msg", "abc", 3);
    EXPECT_EQ(-1, parse(pol[1], tb));
    blob_buf_init(&b, 0);
    blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "id", "\0\0", 2);
    EXPECT_EQ(-1, parse(pol[0], tb));
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "id", 1);
    blob_set_raw_len(static_cast<blob_attr *>(blob_data(b.head)), 200);
    EXPECT_EQ(-1, parse(pol[0], tb));
}

}  // namespace
