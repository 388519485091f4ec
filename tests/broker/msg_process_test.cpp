// The broker's parsing of received texts, and the argument checks of the
// senders: everything here ends before the bus or a socket is touched, so it
// runs in-process without a broker thread (a text that reached the send would
// crash on the missing connection, which fails the test as well).
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "broker/broker.h"
#include "broker/messages.h"
#include "trace_match.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr const char kProcess[] = "powerbank_inter_comm_msg_process";

struct Refused {
    const char *name;
    std::string text;
    // The fields as the second trace line shows them; empty when the text is
    // dropped before that line.
    std::string fields_line;
};

// Test names show the case's name, not its bytes.
void PrintTo(const Refused &c, std::ostream *os) {
    *os << c.name;
}

class MsgProcessRefuses : public testing::TestWithParam<Refused> {};

TEST_P(MsgProcessRefuses, WithoutEventAndTracesWhatItFound) {
    const Refused &c = GetParam();
    const std::string before = c.text;
    CaptureStderr();
    EXPECT_EQ(powerbank_inter_comm_msg_process(c.text.c_str()), -1);
    const std::string err = GetCapturedStderr();
    EXPECT_EQ(c.text, before);
    EXPECT_TRUE(has_trace(err, kProcess, "msg=" + c.text + "\n\n")) << err;
    if (!c.fields_line.empty()) {
        EXPECT_TRUE(has_trace(err, kProcess, c.fields_line)) << err;
    } else {
        EXPECT_EQ(err.find(", message="), std::string::npos) << err;
        EXPECT_TRUE(has_trace(err, kProcess, "type or message too long, dropped\n")) << err;
    }
}

const std::string k63(63, 't');
const std::string k127(127, 'm');

INSTANTIATE_TEST_SUITE_P(
    Malformed, MsgProcessRefuses,
    testing::Values(
        Refused{"NoMessageLine", "type=SendStatFile\r\n", "type=SendStatFile, message=\n"},
        Refused{"NoTypeLine", "msg=dcchange\r\n", "type=, message=dcchange\n"},
        // A text cut at 511 bytes loses its last CR.
        Refused{"MessageWithoutCr", "type=SendStatFile\r\nmsg=dcchange",
                "type=SendStatFile, message=\n"},
        Refused{"TypeWithoutCr", "msg=dcchange\r\ntype=SendStatFile", "type=, message=dcchange\n"},
        Refused{"LineFeedsOnly", "type=SendStatFile\nmsg=dcchange\n", "type=, message=\n"},
        Refused{"EmptyMessage", "type=SendStatFile\r\nmsg=\r\n", "type=SendStatFile, message=\n"},
        Refused{"EmptyType", "type=\r\nmsg=dcchange\r\n", "type=, message=dcchange\n"},
        Refused{"Empty", "", "type=, message=\n"},
        Refused{"TypeOf64", "type=" + k63 + "t\r\nmsg=dcchange\r\n", ""},
        Refused{"MessageOf128", "type=SendStatFile\r\nmsg=" + k127 + "m\r\n", ""},
        Refused{"BothOverLong", "type=" + k63 + "t\r\nmsg=" + k127 + "m\r\n", ""}),
    [](const testing::TestParamInfo<Refused> &info) { return std::string(info.param.name); });

TEST(MsgProcess, NullTextIsTraced) {
    CaptureStderr();
    EXPECT_EQ(powerbank_inter_comm_msg_process(nullptr), -1);
    const std::string err = GetCapturedStderr();
    EXPECT_TRUE(has_trace(err, kProcess, "msg is NULL\n")) << err;
}

// Null arguments: nothing is printed, nothing is sent.
TEST(Senders, NullArgumentsAreRefusedSilently) {
    CaptureStderr();
    EXPECT_EQ(powerbank_inter_comm_msg_send(nullptr), -1);
    EXPECT_EQ(powerbank_inter_comm_sendstatfile_msg_send(nullptr), -1);
    EXPECT_EQ(powerbank_inter_comm_sendstatchange_msg_send(nullptr, "v"), -1);
    EXPECT_EQ(powerbank_inter_comm_sendstatchange_msg_send("k", nullptr), -1);
    EXPECT_EQ(GetCapturedStderr(), "");
}

}  // namespace
