// The board tool's views: the line view of a running board, with the times
// of the journal, and the timeline picture of a recorded journal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;
using scenario::JournalLine;

// Virtual ms of the first line of `watch` output from *AT on that holds
// WORD (and *AT moved there); -1 when there is none.
long long line_ms(const std::string &lines, const std::string &word, size_t *at) {
    size_t found = lines.find(" " + word + "\n", *at);
    found = std::min(found, lines.find(" " + word + " ", *at));
    if (found == std::string::npos) {
        return -1;
    }
    *at = found;
    const size_t start = found == 0 ? 0 : lines.rfind('\n', found) + 1;  // npos + 1 is 0
    return std::llround(std::stod(lines.substr(start + 2)) * 1000);
}

// Stamp of the first journal line that PRED accepts; -2 when there is none.
template <typename Pred>
long long stamp(const std::vector<JournalLine> &j, const Pred &pred) {
    for (const JournalLine &l : j) {
        if (pred(l)) {
            return l.ms;
        }
    }
    return -2;
}

// A line carries the time of its first change; the others came at most
// 100 ms later.
void expect_at(long long line, long long journal, const std::string &lines) {
    EXPECT_GE(journal, line) << lines;
    EXPECT_LE(journal - line, 100) << lines;
}

// DC drops, then a 65 W bank comes while DC is away (only the periodic
// re-detection finds it), then DC returns and a second bank is plugged in:
// its raised CC lines make the daemon re-detect at once.
TEST(BoardView, LinesCarryTheChangesAtTheirJournalTimes) {
    Board b;
    for (const char *key : {"DBID_POE1_ENABLE", "DBID_POE2_ENABLE", "DBID_UPS_ENABLE"}) {
        b.set_config(key, "2");
    }
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    b.set_config("DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", "1");
    b.start_bus();
    b.start_daemon(10);
    ASSERT_TRUE(b.wait_for_status("powerbank_total_power_over_current_state", "2", 30000))
        << b.journal_text();

    b.dc(false);
    ASSERT_TRUE(b.wait_for_status("powerbank_total_power_over_current_state", "0", 30000));
    b.bank(1, 20.0, 3.25);
    ASSERT_TRUE(b.wait_for_status("powerbank1_electricity", "3.25", 30000));
    // Lit, then dark: blinking.
    ASSERT_TRUE(b.wait_for_journal("led usbc1 write 3 \"255\"", 10000).has_value());
    ASSERT_TRUE(b.wait_for_journal("led usbc1 write 1 \"0\"", 10000, b.journal().size()));
    const scenario::RunResult show = b.tool({"show"});
    // DC returns: the DC change re-detects, and so does the CC watch's first
    // evaluation after it; each display update ends with its announcement
    // (the values it publishes are unchanged, and the store leaves them be).
    // Only then does bank 2 come.
    const size_t back = b.journal().size();
    b.dc(true);
    ASSERT_TRUE(b.wait_until(
        [&] {
            const std::vector<JournalLine> j = b.journal();
            return std::count_if(j.begin() + static_cast<long>(back), j.end(), [](auto &l) {
                       return l.kind == "sock" &&
                              l.data().find("batterychange") != std::string::npos;
                   }) >= 2;
        },
        30000));
    b.bank(2, 9.0, 2.0);
    ASSERT_TRUE(b.wait_for_journal("store powerbank2_electricity set 4 \"2.00\"", 30000));
    b.stop_daemon();

    const std::vector<JournalLine> j = b.journal();
    const auto dc_down = [](const JournalLine &l) {
        return (l.kind == "input" && l.name() == "dc" && l.data() == "0") ||
               (l.name() == "gpio25/value" && l.op() == "read" && l.data() == "0\n");
    };
    const auto pse1 = [&](const char *v) {
        return [v](const JournalLine &l) { return l.name() == "ms51_pse1_ctrl" && l.data() == v; };
    };
    const auto published = [](const char *key, const char *value) {
        return [=](const JournalLine &l) {
            return l.kind == "store" && l.name() == key && l.data() == value;
        };
    };
    const scenario::RunResult r = b.tool({"watch", "--all", "--once"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string &out = r.out;
    size_t at = 0;
    // In this order, each at the time its journal line was stamped.
    expect_at(line_ms(out, "dc=down", &at), stamp(j, dc_down), out);
    expect_at(line_ms(out, "poe1=off", &at), stamp(j, pse1("1\n")), out);
    expect_at(line_ms(out, "port1=20.00V/3.25A", &at),
              stamp(j, published("powerbank1_electricity", "3.25")), out);
    EXPECT_GE(line_ms(out, "dc=up", &at), 0) << out;
    EXPECT_GE(line_ms(out, "port2=9.00V/2.00A", &at), 0) << out;
    if (Board::bus_available()) {
        EXPECT_NE(out.find("event=SendStatFile:batterychange"), std::string::npos) << out;
    }

    // On batteries with the 65 W bank, the outputs stay on and LED 1 blinks.
    EXPECT_NE(show.out.find("PoE 1 on"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("LED 1 blinking"), std::string::npos) << show.out;
}

// A short recorded run: DC up, POE_1 on, a bank on port 1, DC gone at 12.5 s
// and LED 1 blinking after it, a re-detection and a bus event.
const char kRecorded[] =
    R"(1000 gpio gpio25/value read 2 "1\n"
1500 led usbc1 write 1 "0"
2000 mcu ms51_pse1_ctrl write 2 "0\n" via=i2c-dev
4000 gpio gpio19/value write 1 "1"
6000 store powerbank_state_1 set 1 "1"
6001 store powerbank1_voltage set 5 "20.00"
6002 store powerbank1_electricity set 4 "3.00"
6003 sock powerbankserver send 38 "type=SendStatFile\r\nmsg=batterychange\r\n"
6004 store powerbank_total_power_over_current_state set 1 "2"
6500 led usbc1 write 1 "1"
12500 gpio gpio25/value read 2 "0\n"
13000 led usbc1 write 3 "255"
13500 led usbc1 write 1 "0"
14000 led usbc1 write 3 "255"
14500 led usbc1 write 1 "0"
15000 led usbc1 write 3 "255"
15500 led usbc1 write 1 "0"
16000 led usbc1 write 3 "255"
19000 sock powerbankserver send 33 "type=SendStatFile\r\nmsg=dcchange\r\n" err=ENOENT
)";

TEST(BoardView, TimelineOfARecordedJournal) {
    Board b;
    std::ofstream(b.path("journal"), std::ios::trunc) << kRecorded;
    const std::string svg_path = b.path("run.svg");
    const scenario::RunResult r = b.tool({"timeline", "-o", svg_path, "--from", "0", "--to", "20"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(b.run_process({"/usr/bin/xmllint", "--noout", svg_path}).status, 0);  // well-formed
    std::ifstream in(svg_path);
    const std::string svg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    for (const char *row :
         {">DC<", ">port 1 bank<", ">port 2 bank<", ">LED 1<", ">LED 2<", ">PoE 1<", ">PoE 2<",
          ">UPS<", ">OC PoE 1<", ">OC total<", ">re-detection<", ">bus event<"}) {
        EXPECT_NE(svg.find(row), std::string::npos) << row;
    }
    // What was drawn: the bank, LED 1 blinking on batteries, the delivered
    // event and not the failed one.
    for (const char *piece :
         {"<title>port 1 bank 20.00V/3.00A from 6.002 s", "<title>LED 1 blink from 13.500 s",
          "<title>re-detection at 4.000 s", "<title>SendStatFile:batterychange at 6.003 s"}) {
        EXPECT_NE(svg.find(piece), std::string::npos) << piece;
    }
    EXPECT_EQ(svg.find("dcchange"), std::string::npos);

    // DC falls at 12.5 s: a quarter of the way from the 10 s mark to the 20 s one.
    const auto number_after = [&](size_t at, const std::string &key) {
        at = at == std::string::npos ? at : svg.find(key, at);
        return at == std::string::npos ? -1.0 : std::stod(svg.substr(at + key.size()));
    };
    const auto tick_x = [&](const std::string &label) {
        const size_t at = svg.find(">" + label + "</text>");
        return at == std::string::npos ? -1.0 : number_after(svg.rfind("<text", at), "x=\"");
    };
    const double x10 = tick_x("10 s");
    const double x20 = tick_x("20 s");
    ASSERT_GT(x20, x10);
    const double edge = number_after(svg.find("<title>DC down from 12.500 s"), "<path d=\"M ");
    EXPECT_NEAR(edge, x10 + (x20 - x10) / 4, 0.5);
}

}  // namespace
