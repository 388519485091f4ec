// Status texts are what callers print ("Command failed: ... (<text>)"), so
// they must match the device's library word for word.
#include <gtest/gtest.h>
#include <libubus.h>

namespace {

TEST(UbusStrerror, TextsMatchTheDeviceLibrary) {
    const char *const texts[] = {"Success",
                                 "Invalid command",
                                 "Invalid argument",
                                 "Method not found",
                                 "Not found",
                                 "No response",
                                 "Permission denied",
                                 "Request timed out",
                                 "Operation not supported",
                                 "Unknown error",
                                 "Connection failed",
                                 "Out of memory",
                                 "Parsing message data failed",
                                 "System error"};
    static_assert(sizeof(texts) / sizeof(texts[0]) == __UBUS_STATUS_LAST, "one text per status");
    for (int i = 0; i < __UBUS_STATUS_LAST; i++)
        EXPECT_STREQ(texts[i], ubus_strerror(i)) << i;
    EXPECT_STREQ("Unknown error: 14", ubus_strerror(__UBUS_STATUS_LAST));
    EXPECT_STREQ("Unknown error: -1", ubus_strerror(-1));
}

}  // namespace
