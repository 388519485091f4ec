// The local message senders on a simulated board, which maps the fixed socket
// path into the board: what goes out, datagram by datagram, and what a send
// with nobody listening prints.
#include <gtest/gtest.h>

#include <string>

#include "harness/scenario.h"
#include "trace_match.h"

namespace {

std::string run_probe(scenario::Board &b, const std::vector<std::string> &args,
                      std::string *err = nullptr) {
    std::vector<std::string> argv{BROKER_PROBE};
    argv.insert(argv.end(), args.begin(), args.end());
    scenario::RunResult r = b.run_on_board(argv, 1);
    EXPECT_EQ(r.status, 0) << r.err;
    if (err != nullptr) {
        *err = r.err;
    }
    return r.out;
}

std::string xs(size_t n) {
    return std::string(n, 'x');
}

// Each message is one datagram of its own, in order, with the exact text and
// no NUL; an empty name still goes out.
TEST(SendersOnBoard, EachMessageIsOneDatagramWithTheExactText) {
    scenario::Board b;
    std::string err;
    EXPECT_EQ(run_probe(b, {"capture", "file", "dcchange", "", "batterychange"}, &err),
              "rc=0\nrc=0\nrc=0\n"
              "dgram 33 type=SendStatFile\\r\\nmsg=dcchange\\r\\n\n"
              "dgram 25 type=SendStatFile\\r\\nmsg=\\r\\n\n"
              "dgram 38 type=SendStatFile\\r\\nmsg=batterychange\\r\\n\n");
    // Every message is traced, naming the composing operation.
    EXPECT_TRUE(has_trace(err, "powerbank_inter_comm_sendstatfile_msg_send",
                          "[inter msg snd] type=SendStatFile\r\nmsg=dcchange\r\n\n"))
        << err;

    EXPECT_EQ(run_probe(b, {"capture", "change", "usb_state", "1"}),
              "rc=0\ndgram 37 type=SendStatChang\\r\\nmsg=usb_state=1\\r\\n\n");
}

// "type=SendStatFile\r\nmsg=" is 23 bytes and the text is cut at 511, so a
// name of 486 fits whole, one more loses the final LF, more still both.
TEST(SendersOnBoard, LongTextsAreCutAt511Bytes) {
    scenario::Board b;
    EXPECT_EQ(run_probe(b, {"capture", "file-long", "486"}),
              "rc=0\ndgram 511 type=SendStatFile\\r\\nmsg=" + xs(486) + "\\r\\n\n");
    EXPECT_EQ(run_probe(b, {"capture", "file-long", "487"}),
              "rc=0\ndgram 511 type=SendStatFile\\r\\nmsg=" + xs(487) + "\\r\n");
    EXPECT_EQ(run_probe(b, {"capture", "file-long", "600"}),
              "rc=0\ndgram 511 type=SendStatFile\\r\\nmsg=" + xs(488) + "\n");
}

// Nobody listening: the message is lost and reported, the result is still 0.
TEST(SendersOnBoard, SendWithoutListenerIsReportedAndStillSucceeds) {
    scenario::Board b;
    std::string err;
    EXPECT_EQ(run_probe(b, {"file", "dcchange"}, &err), "rc=0\n");
    // perror's line, then the trace line, both with the reason.
    const std::string reason = "No such file or directory\n";
    EXPECT_NE(err.find("\nsendto: " + reason), std::string::npos) << err;
    EXPECT_TRUE(has_trace(err, "powerbank_inter_comm_msg_send", "sendto  failed: " + reason))
        << err;
}

}  // namespace
