// The local message senders on a simulated board, which maps the fixed socket
// path into the board: what goes out, datagram by datagram, and what a send
// with nobody listening prints.
#include <gtest/gtest.h>

#include <string>

#include "broker/trace_match.h"
#include "probe/probe_run.h"

namespace {

// Nobody listening at first: the message is lost and reported, the result is
// still 0. Then each message is one datagram of its own, in order, with the
// exact text and no NUL; an empty name still goes out.
// "type=SendStatFile\r\nmsg=" is 23 bytes and a text is cut at 511, so a name
// of 486 fits whole, one more loses the final LF, more still both.
TEST(SendersOnBoard, EachMessageIsOneDatagramWithTheExactTextCutAt511Bytes) {
    scenario::Board b;
    const std::string file = "dgram 511 type=SendStatFile\\r\\nmsg=";
    const scenario::RunResult r =
        probe::run(b, {"file", "lost", "listen", "file", "dcchange", "file", "", "change",
                       "usb_state", "1", "file", std::string(486, 'x'), "file",
                       std::string(487, 'x'), "file", std::string(600, 'x'), "drain"});
    EXPECT_EQ(r.out,
              "rc=0\nrc=0\nrc=0\nrc=0\nrc=0\nrc=0\nrc=0\n"
              "dgram 33 type=SendStatFile\\r\\nmsg=dcchange\\r\\n\n"
              "dgram 25 type=SendStatFile\\r\\nmsg=\\r\\n\n"
              "dgram 37 type=SendStatChang\\r\\nmsg=usb_state=1\\r\\n\n" +
                  file + std::string(486, 'x') + "\\r\\n\n" + file + std::string(487, 'x') +
                  "\\r\n" + file + std::string(488, 'x') + "\n");
    // perror's line, then the trace line, both with the reason.
    const std::string reason = "No such file or directory\n";
    EXPECT_NE(r.err.find("\nsendto: " + reason), std::string::npos) << r.err;
    EXPECT_TRUE(has_trace(r.err, "powerbank_inter_comm_msg_send", "sendto  failed: " + reason))
        << r.err;
    // Every message is traced, naming the composing operation.
    EXPECT_TRUE(has_trace(r.err, "powerbank_inter_comm_sendstatfile_msg_send",
                          "[inter msg snd] type=SendStatFile\r\nmsg=dcchange\r\n\n"))
        << r.err;
}

}  // namespace
