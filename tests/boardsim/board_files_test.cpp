// The journal's quoting, as the harness reads it back.
#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

namespace {

TEST(Journal, QuotedBytesComeBackExactly) {
    const std::string bytes("in\0\0\"\\\r\n\t\x01\xff end", 15);
    std::string line =
        "1234 gpio gpio25/direction write 15 \"" + scenario::journal_escape(bytes) + "\" err=EIO\n";
    auto lines = scenario::parse_journal(line);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].ms, 1234);
    EXPECT_EQ(lines[0].kind, "gpio");
    EXPECT_EQ(lines[0].name(), "gpio25/direction");
    EXPECT_EQ(lines[0].op(), "write");
    EXPECT_EQ(lines[0].field(2), "15");
    EXPECT_EQ(lines[0].data(), bytes);
    EXPECT_EQ(lines[0].tag("err"), "EIO");
    EXPECT_EQ(lines[0].tag("via"), "");
}

TEST(Journal, UnfinishedAndMalformedLinesAreSkipped) {
    auto lines = scenario::parse_journal(
        "10 i2c 43 2 0000:1:10 0001:1:01 ok\n"
        "garbage\n"
        "11 led usbc1 write 1 \"\\q\"\n"
        "12 led usbc2 write 1 \"0\"\n"
        "13 led usbc2 wri");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "i2c 43 2 0000:1:10 0001:1:01 ok");
    EXPECT_EQ(lines[0].fields.back(), "ok");
    EXPECT_EQ(lines[1].ms, 12);
}

}  // namespace
