// The bus encoding is big-endian whatever the CPU: attribute headers, name
// lengths and integers. The device's CPU is little-endian like the host, so a
// missing byte swap would pass unnoticed on both unless the bytes themselves
// are checked.
#include <gtest/gtest.h>

#include <cstring>

extern "C" {  // the libubox headers carry no C++ guard
#include <libubox/blobmsg.h>
}

namespace {

// The event payload the broker builds: "id" as int32, "msg" as a string.
TEST(BlobEncoding, EventPayloadBytesAreBigEndian) {
    blob_buf b;
    std::memset(&b, 0, sizeof b);
    ASSERT_EQ(blob_buf_init(&b, 0), 0);
    ASSERT_EQ(blobmsg_add_u32(&b, "id", 0x12345678u), 0);
    ASSERT_EQ(blobmsg_add_string(&b, "msg", "dcchange"), 0);

    const unsigned char expected[] = {
        0x00, 0x00, 0x00, 0x2c,                                // root, id 0, 44 bytes
        0x85, 0x00, 0x00, 0x10,                                // extended INT32, 16 bytes
        0x00, 0x02, 'i',  'd',  0x00, 0x00, 0x00, 0x00,        // name "id", padded
        0x12, 0x34, 0x56, 0x78,                                // the value, big-endian
        0x83, 0x00, 0x00, 0x15,                                // extended STRING, 21 bytes
        0x00, 0x03, 'm',  's',  'g',  0x00, 0x00, 0x00,        // name "msg", padded
        'd',  'c',  'c',  'h',  'a',  'n',  'g',  'e',  0x00,  // with its NUL
        0x00, 0x00, 0x00,                                      // padding to 4
    };
    ASSERT_EQ(blob_pad_len(b.head), sizeof expected);
    EXPECT_EQ(std::memcmp(b.head, expected, sizeof expected), 0);

    // And back: the reader swaps again.
    const blobmsg_policy policy[] = {{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}};
    blob_attr *tb[2] = {};
    ASSERT_EQ(blobmsg_parse(policy, 2, tb, blob_data(b.head), blob_len(b.head)), 0);
    ASSERT_NE(tb[0], nullptr);
    ASSERT_NE(tb[1], nullptr);
    EXPECT_EQ(blobmsg_get_u32(tb[0]), 0x12345678u);
    EXPECT_STREQ(blobmsg_get_string(tb[1]), "dcchange");
    blob_buf_free(&b);
}

}  // namespace
