// The broker's parsing of received texts: everything here ends before the bus
// is touched, so it runs in-process without a broker thread (a text that
// reached the send would crash on the missing connection, which fails the
// test as well).
#include <gtest/gtest.h>

#include <string>

#include "broker/broker.h"
#include "broker/trace_match.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr const char kProcess[] = "powerbank_inter_comm_msg_process";

// Each text is refused without an event (the datagram fuzz target checks that
// for many more); the trace shows the text, then the fields it found, or that
// a field was too long.
TEST(MsgProcess, RefusesMalformedTextsAndTracesWhatItFound) {
    const std::string t64(64, 't');
    const struct {
        std::string text;
        const char *fields_line;  // nullptr: dropped before that line
    } cases[] = {
        {"msg=dcchange\r\n", "type=, message=dcchange\n"},
        // A text cut at 511 bytes loses its last CR.
        {"type=SendStatFile\r\nmsg=dcchange", "type=SendStatFile, message=\n"},
        {"type=" + t64 + "\r\nmsg=dcchange\r\n", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        CaptureStderr();
        EXPECT_EQ(powerbank_inter_comm_msg_process(c.text.c_str()), -1);
        const std::string err = GetCapturedStderr();
        EXPECT_TRUE(has_trace(err, kProcess, "msg=" + c.text + "\n\n")) << err;
        if (c.fields_line != nullptr) {
            EXPECT_TRUE(has_trace(err, kProcess, c.fields_line)) << err;
        } else {
            EXPECT_EQ(err.find(", message="), std::string::npos) << err;
            EXPECT_TRUE(has_trace(err, kProcess, "type or message too long, dropped\n")) << err;
        }
    }
}

}  // namespace
