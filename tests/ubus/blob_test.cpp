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
    char word[3];
    for (size_t i = 0; i < blob_pad_len(attr); i++) {
        if (i && i % 4 == 0)
            out += ' ';
        snprintf(word, sizeof(word), "%02x", p[i]);
        out += word;
    }
    return out;
}

class BlobBuf : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, blob_buf_init(&b, 0)); }
    void TearDown() override { blob_buf_free(&b); }
    blob_buf b{};
};

TEST_F(BlobBuf, EventPayloadMatchesTheDeviceEncoding) {
    uint32_t be = htonl(0x12345678);
    ASSERT_EQ(0, blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "id", &be, 4));
    ASSERT_EQ(0, blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "msg", "dcchange", 9));

    EXPECT_EQ(44u, blob_raw_len(b.head));
    EXPECT_EQ(
        "0000002c 85000010 00026964 00000000 12345678 83000015 00036d73 67000000 "
        "64636368 616e6765 00000000",
        hex_words(b.head));

    // The inline helpers produce the same bytes.
    blob_buf c{};
    ASSERT_EQ(0, blob_buf_init(&c, 0));
    blobmsg_add_u32(&c, "id", 0x12345678);
    blobmsg_add_string(&c, "msg", "dcchange");
    EXPECT_EQ(hex_words(b.head), hex_words(c.head));
    blob_buf_free(&c);
    EXPECT_EQ(nullptr, c.head);
    EXPECT_EQ(nullptr, c.buf);
    EXPECT_EQ(0, c.buflen);
}

TEST_F(BlobBuf, ReinitStartsAnEmptyRootWithTheGivenId) {
    blobmsg_add_string(&b, "msg", "x");
    ASSERT_EQ(0, blob_buf_init(&b, 7));
    EXPECT_EQ(0u, blob_len(b.head));
    EXPECT_EQ(7u, blob_id(b.head));
    EXPECT_FALSE(blob_is_extended(b.head));
}

TEST_F(BlobBuf, NestedTablesAndArraysWalkBack) {
    blobmsg_add_u8(&b, "flag", 1);
    void *tbl = blobmsg_open_table(&b, "t");
    blobmsg_add_u16(&b, "small", 0xbeef);
    void *arr = blobmsg_open_array(&b, "a");
    blobmsg_add_u64(&b, nullptr, 0x0102030405060708ull);
    blobmsg_add_string(&b, nullptr, "second");
    blobmsg_close_array(&b, arr);
    blobmsg_close_table(&b, tbl);
    blobmsg_add_string(&b, "after", "tail");
    // Enough fields to make the buffer grow (and move) a few times.
    for (int i = 0; i < 200; i++)
        blobmsg_add_u32(&b, "n", i);

    std::string seen;
    uint32_t numbers = 0;
    blob_attr *cur, *inner, *elem;
    size_t rem, rem2, rem3;
    blobmsg_for_each_attr(cur, b.head, rem) {
        if (std::string(blobmsg_name(cur)) == "n") {
            EXPECT_EQ(numbers++, blobmsg_get_u32(cur));
            continue;
        }
        seen += blobmsg_name(cur);
        if (blobmsg_type(cur) == BLOBMSG_TYPE_TABLE) {
            blobmsg_for_each_attr(inner, cur, rem2) {
                seen += std::string("/") + blobmsg_name(inner);
                if (blobmsg_type(inner) == BLOBMSG_TYPE_ARRAY) {
                    blobmsg_for_each_attr(elem, inner, rem3) {
                        EXPECT_STREQ("", blobmsg_name(elem));
                        seen += std::to_string(blobmsg_type(elem));
                    }
                }
            }
        }
        seen += ",";
    }
    EXPECT_EQ("flag,t/small/a43,after,", seen);
    EXPECT_EQ(200u, numbers);

    const blobmsg_policy pol[] = {{"t", BLOBMSG_TYPE_TABLE}, {"after", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2];
    ASSERT_EQ(0, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));
    ASSERT_NE(nullptr, tb[0]);
    EXPECT_STREQ("tail", blobmsg_get_string(tb[1]));
    EXPECT_TRUE(blobmsg_check_attr(tb[0], true));
    EXPECT_EQ(2, blobmsg_check_array(tb[0], BLOBMSG_TYPE_UNSPEC));
}

TEST_F(BlobBuf, ParseRules) {
    blobmsg_add_string(&b, "msg", "first");
    blobmsg_add_string(&b, "msg", "second");  // a duplicate: the first one wins
    blobmsg_add_string(&b, "id", "5");        // wrong type for "id"
    blobmsg_add_u8(&b, "on", 1);
    blobmsg_add_u16(&b, "n16", 3);
    blob_put_u32(&b, 9, 1);  // unnamed (not extended): skipped

    struct Case {
        blobmsg_policy pol;
        const char *want;  // nullptr: no match
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
        ASSERT_EQ(0, blobmsg_parse(&c.pol, 1, &tb, blob_data(b.head), blob_len(b.head)));
        if (!c.want) {
            EXPECT_EQ(nullptr, tb);
        } else if (blobmsg_type(tb) == BLOBMSG_TYPE_STRING) {
            EXPECT_STREQ(c.want, blobmsg_get_string(tb));
        } else {
            EXPECT_STREQ(c.want, blobmsg_name(tb));
        }
    }
}

TEST_F(BlobBuf, ParseRefusesEmptyAndMalformedInput) {
    const blobmsg_policy pol[] = {{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2] = {b.head, b.head};

    // Empty arguments: the table is cleared all the same.
    EXPECT_EQ(-EINVAL, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));
    EXPECT_EQ(nullptr, tb[0]);
    EXPECT_EQ(nullptr, tb[1]);
    EXPECT_EQ(-EINVAL, blobmsg_parse(pol, 2, tb, nullptr, 16));

    // A string without its NUL and an int of the wrong size are refused.
    blobmsg_add_field(&b, BLOBMSG_TYPE_STRING, "msg", "abc", 3);
    EXPECT_EQ(-1, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));
    blob_buf_init(&b, 0);
    blobmsg_add_field(&b, BLOBMSG_TYPE_INT32, "id", "\0\0", 2);
    EXPECT_EQ(-1, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));

    // An attribute claiming more bytes than there are.
    blob_buf_init(&b, 0);
    blobmsg_add_u32(&b, "id", 1);
    auto *first = static_cast<blob_attr *>(blob_data(b.head));
    blob_set_raw_len(first, 200);
    EXPECT_EQ(-1, blobmsg_parse(pol, 2, tb, blob_data(b.head), blob_len(b.head)));
}

}  // namespace
