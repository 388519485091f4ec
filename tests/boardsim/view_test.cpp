// The board tool's views: the line view of a running board, followed live and
// replayed, with the times of the journal; and the timeline picture of a
// recorded journal.
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

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Virtual ms of the first line of `watch` output from *AT on that holds
// WORD (and *AT moved there); -1 when there is none.
long long line_ms(const std::string &lines, const std::string &word, size_t *at) {
    size_t found = lines.find(" " + word, *at);
    if (found == std::string::npos) {
        return -1;
    }
    *at = found;
    const size_t start = lines.rfind('\n', found) + 1;  // npos + 1 is 0
    return std::llround(std::stod(lines.substr(start + 2)) * 1000);
}

// Stamp of the first journal line from FROM on that PRED accepts; -2 when
// there is none.
template <typename Pred>
long long stamp(const std::vector<JournalLine> &j, const Pred &pred, size_t from = 0) {
    for (size_t i = from; i < j.size(); ++i) {
        if (pred(j[i])) {
            return j[i].ms;
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

// A 65 W bank on port 1, then DC drops: on batteries LED 1 blinks. Then the
// bank leaves while DC is away, and DC returns. A `watch` that followed the
// run as it went prints, line for line, what a replay of the journal prints
// afterwards, each change at the time of its journal line: the live view
// decides from the journal's times, however late the machine lets it read.
TEST(BoardView, LiveLinesAgreeWithAReplay) {
    Board b;
    for (const char *key : {"DBID_POE1_ENABLE", "DBID_POE2_ENABLE", "DBID_UPS_ENABLE"}) {
        b.set_config(key, "2");
    }
    b.set_config("DBID_POWERBANK_RUN_TIME_IN_DC_DISCONNECT", "1");
    b.start_bus();
    const std::string live = b.path("logs/live.out");
    const pid_t watch = b.start_tool({"watch", "--lines", "--all"}, live);
    b.start_daemon(20);
    b.bank(1, 20.0, 3.25);
    ASSERT_TRUE(b.wait_for_status("powerbank1_electricity", "3.25", 30000)) << b.journal_text();
    const size_t away = b.journal().size();
    b.dc(false);
    // Four lit and four dark phases: a blink whatever the window.
    ASSERT_TRUE(b.wait_until(
        [&] {
            const std::vector<JournalLine> j = b.journal();
            return std::count_if(j.begin() + static_cast<long>(away), j.end(), [](auto &l) {
                       return l.kind == "led" && l.name() == "usbc1" && l.data() == "0";
                   }) >= 4;
        },
        30000));
    const size_t out = b.journal().size();
    b.bank_none(1);
    ASSERT_TRUE(b.wait_for_journal("store powerbank_state_1 set 1 \"0\"", 60000, out));
    b.dc(true);
    ASSERT_TRUE(b.wait_for_journal("gpio gpio25/value read 2 \"1\\n\"", 30000, out));
    b.stop_daemon();
    ASSERT_TRUE(b.wait_for_journal("proc powerbank end", 10000));
    EXPECT_EQ(b.stop_process(watch), 0);

    const scenario::RunResult replay = b.tool({"watch", "--all", "--once", "--lines"});
    ASSERT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(read_file(live), replay.out);

    const std::vector<JournalLine> j = b.journal();
    const std::string &lines = replay.out;
    const auto is = [](const char *kind, const char *name, const char *data) {
        return [=](const JournalLine &l) {
            return l.kind == kind && l.name() == name && l.data() == data;
        };
    };
    size_t at = 0;
    // In this order, each at the time its journal line was stamped.
    expect_at(line_ms(lines, "daemon=up", &at), stamp(j, [](auto &l) { return l.kind == "proc"; }),
              lines);
    expect_at(line_ms(lines, "port1=20.00V/3.25A", &at),
              stamp(j, is("store", "powerbank1_electricity", "3.25")), lines);
    expect_at(line_ms(lines, "input=\"dc 0\"", &at), stamp(j, is("input", "dc", "0")), lines);
    expect_at(line_ms(lines, "dc=down", &at), stamp(j, is("gpio", "gpio25/value", "0\n")), lines);
    // The blink, on batteries, from a write to the LED (the first of four
    // changes within the window), no faster than the daemon blinks.
    const size_t blink = lines.find("led1=blink/", at);
    ASSERT_NE(blink, std::string::npos) << lines;
    const long long blink_ms = line_ms(lines, "led1=blink/", &at);
    expect_at(blink_ms,
              stamp(
                  j, [&](auto &l) { return l.name() == "usbc1" && l.ms >= blink_ms; }, away),
              lines);
    EXPECT_GE(std::stod(lines.substr(blink + 11)), 0.9) << lines;
    expect_at(line_ms(lines, "port1=none", &at),
              stamp(j, is("store", "powerbank1_electricity", "0.00"), out), lines);
    EXPECT_GE(line_ms(lines, "dc=up", &at), 0) << lines;
    EXPECT_GE(line_ms(lines, "daemon=down", &at), 0) << lines;
}

// A short recorded run: a daemon starts, DC up, POE_1 on, a bank on port 1,
// five bus events in 40 ms, DC gone at 12.5 s and LED 1 blinking after it,
// a failed send, and the daemon ends at 17 s.
const char kRecorded[] =
    R"(500 proc powerbank start 3 "100"
900 input dc set 1 "1"
1000 gpio gpio25/value read 2 "1\n"
1500 led usbc1 write 1 "0"
2000 mcu ms51_pse1_ctrl write 2 "0\n" via=i2c-dev
4000 gpio gpio19/value write 1 "1"
5900 input bank set 9 "1 20 3.0"
6000 store powerbank_state_1 set 1 "1"
6001 store powerbank1_voltage set 5 "20.00"
6002 store powerbank1_electricity set 4 "3.00"
6003 sock powerbankserver send 28 "type=SendStatFile\r\nmsg=one\r\n"
6010 sock powerbankserver send 28 "type=SendStatFile\r\nmsg=two\r\n"
6020 sock powerbankserver send 30 "type=SendStatFile\r\nmsg=three\r\n"
6030 sock powerbankserver send 29 "type=SendStatFile\r\nmsg=four\r\n"
6040 sock powerbankserver send 29 "type=SendStatFile\r\nmsg=five\r\n"
6500 led usbc1 write 1 "1"
12000 input dc set 1 "0"
12500 gpio gpio25/value read 2 "0\n"
13000 led usbc1 write 3 "255"
13500 led usbc1 write 1 "0"
14000 led usbc1 write 3 "255"
14500 led usbc1 write 1 "0"
15000 led usbc1 write 3 "255"
15500 led usbc1 write 1 "0"
16000 led usbc1 write 3 "255"
16500 sock powerbankserver send 31 "type=SendStatFile\r\nmsg=failed\r\n" err=ENOENT
17000 proc powerbank end 3 "100"
20000 input dc set 1 "1"
)";

TEST(BoardView, TimelineOfARecordedJournal) {
    Board b;
    std::ofstream(b.path("journal"), std::ios::trunc) << kRecorded;
    const auto draw = [&](const std::vector<std::string> &range) {
        std::vector<std::string> args = {"timeline", "-o", b.path("run.svg")};
        args.insert(args.end(), range.begin(), range.end());
        const scenario::RunResult r = b.tool(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(b.run_process({"/usr/bin/xmllint", "--noout", b.path("run.svg")}).status, 0);
        return read_file(b.path("run.svg"));
    };
    const std::string svg = draw({"--from", "0", "--to", "20"});
    for (const char *row : {">daemon<", ">inputs<", ">DC<", ">port 1 bank<", ">LED 1<", ">PoE 1<",
                            ">OC total<", ">redetect<", ">bus event<"}) {
        EXPECT_NE(svg.find(row), std::string::npos) << row;
    }
    // What was drawn: the bank, LED 1 blinking at the period of the journal,
    // what was done to the board, nothing kept once the daemon ended, and the
    // delivered events and not the failed one.
    for (const char *piece :
         {"<title>port 1 bank 20.00V/3.00A from 6.002 s", "<title>LED 1 blink 1.0 s from 13.500 s",
          "<title>re-detection at 4.000 s", ">bank 1 20 3.0</text>", ">dc 0</text>",
          "<title>PoE 1 no daemon from 17.000 s to 20.000 s"}) {
        EXPECT_NE(svg.find(piece), std::string::npos) << piece;
    }
    EXPECT_EQ(svg.find("failed"), std::string::npos);
    // Five events 40 ms apart: each keeps its label, in a lane of its own or
    // listed by the "+N" mark that stands for those without room.
    const size_t plus = svg.find("font-weight=\"bold\">+");
    const size_t list = plus == std::string::npos ? plus : svg.rfind("<g><title>", plus);
    const std::string listed = list == std::string::npos ? "" : svg.substr(list, plus - list);
    int labelled = 0;
    for (const char *msg : {"one", "two", "three", "four", "five"}) {
        const bool label = svg.find(std::string(">") + msg + "</text>") != std::string::npos;
        const bool in_list = listed.find(std::string(":") + msg) != std::string::npos;
        EXPECT_NE(label, in_list) << msg << "\n" << svg;
        labelled += label;
    }
    EXPECT_NE(svg.find(">+" + std::to_string(5 - labelled) + "</text>"), std::string::npos);

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

    // Zoomed in where nothing changes, each row still says its value; zoomed
    // out, the blink is a band with its period written on it.
    const std::string zoom = draw({"--from", "7", "--to", "12"});
    const size_t dc = zoom.find("<title>DC up from 7.000 s to 12.000 s</title>");
    ASSERT_NE(dc, std::string::npos) << zoom;
    EXPECT_NE(zoom.substr(dc, zoom.find("</g>", dc) - dc).find(">up</text>"), std::string::npos);
    std::ofstream(b.path("journal"), std::ios::app) << "900000 input dc set 1 \"0\"\n";
    const std::string wide = draw({});
    EXPECT_NE(wide.find("fill-opacity=\"0.25\""), std::string::npos);
}

}  // namespace
