// The boardsim tool: defaults of a new board, the encoding of its inputs, what
// it says of bad arguments, and run-sim's change log.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "scenario.h"

namespace {

using scenario::Board;

std::string read_text(const std::string &path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(Tool, NewBoardDefaultsAndCcVoltsAsRoundedCounts) {
    Board board;
    EXPECT_EQ(board.get("dc"), "1");
    EXPECT_EQ(board.get("led/usbc1"), std::nullopt);
    EXPECT_EQ(board.get("gpio25/direction"), std::nullopt);  // not exported

    board.cc(1, 2.2, 3.3);
    board.cc(2, 0.5, 1.65);
    EXPECT_EQ(board.get("adc/93"), "2731");  // 2.2 * 4096 / 3.3 = 2730.67
    EXPECT_EQ(board.get("adc/94"), "4095");  // full scale is clamped to 12 bits
    EXPECT_EQ(board.get("adc/90"), "621");
    // The tool notes each input change in the journal.
    auto input = board.journal_find("input", "cc");
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].data(), "1 2.2 3.3");

    // A bank raises both CC lines of its port to 2.5 V (high), none lowers
    // them, --cc-unchanged leaves them alone.
    board.bank(1, 20.0, 3.0);
    EXPECT_EQ(board.get("adc/94"), "3103");
    ASSERT_EQ(board.tool({"bank", "2", "none", "--cc-unchanged"}).status, 0);
    EXPECT_EQ(board.get("adc/90"), "621");
    board.bank_none(1);
    EXPECT_EQ(board.get("adc/93"), "0");
}

// Each kind of mistake: a non-zero status, the bad word named with the
// nearest valid one where there is one, and one line of usage, not the help.
TEST(Tool, BadArgumentsNameTheWord) {
    Board board;
    std::ofstream(board.path("journal"), std::ios::trunc) << "5000 input dc set 1 \"1\"\n";
    const struct {
        std::vector<std::string> args;  // after the board directory
        const char *named;              // what the message names
    } kCases[] = {
        {{"shwo"}, "'shwo' (the nearest is 'show')"},
        {{"bnak", "1", "none"}, "'bnak' (the nearest is 'bank')"},
        {{"bank", "3", "20", "3"}, "PORT is 1 or 2, not '3'"},
        {{"cc", "0", "1", "1"}, "PORT is 1 or 2, not '0'"},
        {{"fault", "missing", "gpio\n2"}, "target 'gpio?2'"},
        {{"fault", "mising", "mcu"}, "'mising' (the nearest is 'missing')"},
        {{"timeline", "--from", "-5"}, "not '-5'"},
        {{"timeline", "--from", "6"}, "--from 6.000 is past the end of the journal"},
        {{"timeline", "--from", "3", "--to", "2"}, "--to 2.000 must come after --from 3.000"},
        {{"watch", "--al"}, "'--al' (the nearest is '--all')"},
        {{"config", "BAD/KEY", "1"}, "'BAD/KEY' is no store key"},
    };
    for (const auto &c : kCases) {
        const scenario::RunResult r = board.tool(c.args);
        SCOPED_TRACE(c.args[0] + " " + r.err);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.named), std::string::npos);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2);
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
    // The verb may come first, as init's does.
    const scenario::RunResult shown = board.run_process({BOARDSIM, "show", board.dir()});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(shown.out.rfind("board " + board.dir(), 0), 0u) << shown.out;
}

// run-sim's own lines go to standard error: what it prints on standard
// output is the change log alone, one logfmt line each.
TEST(Tool, RunSimPrintsOnlyTheChangeLog) {
    if (Board::emulated()) {
        GTEST_SKIP() << "run-sim runs the host's build";
    }
    Board board;
    const std::string out = board.path("logs/run-sim.out");
    const pid_t run = board.start_process(
        {"/bin/bash", REPO_DIR "/scripts/run-sim.sh", "--speed", "30", "--board", board.dir(),
         "--build-dir", BUILD_DIR, "--no-build", "--config", "DBID_POWERBANK_DEBUG=1"},
        out);
    ASSERT_TRUE(
        board.wait_until([&] { return board.status("powerbank_state_1").has_value(); }, 60000));
    board.dc(false);
    ASSERT_TRUE(board.wait_until(
        [&] { return read_text(out).find("dc=down") != std::string::npos; }, 60000))
        << read_text(out);
    EXPECT_EQ(board.stop_process(run), 143);
    const std::string lines = read_text(out);
    // t=SECONDS.MMM, then NAME=VALUE words: a bare value, or a quoted one.
    const auto logfmt = [](const std::string &l) {
        size_t at = l.find(' ');
        if (l.compare(0, 2, "t=") != 0 || at == std::string::npos || at < 7 || l[at - 4] != '.' ||
            l.find_first_not_of("0123456789.", 2) != at) {
            return false;
        }
        while (at < l.size() && l[at] == ' ') {
            const size_t eq = l.find('=', at + 1);
            if (eq == std::string::npos || eq == at + 1 ||
                l.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_", at + 1) != eq) {
                return false;
            }
            at = eq + 1;
            if (at < l.size() && l[at] == '"') {
                for (++at; at < l.size() && l[at] != '"'; at += l[at] == '\\' ? 2 : 1) {
                }
                ++at;
            } else {
                at = std::min(l.find(' ', at), l.size());
            }
        }
        return at == l.size();
    };
    for (size_t at = 0, nl; (nl = lines.find('\n', at)) != std::string::npos; at = nl + 1) {
        EXPECT_TRUE(logfmt(lines.substr(at, nl - at))) << lines.substr(at, nl - at);
    }
    EXPECT_NE(lines.find("input=\"config DBID_POWERBANK_DEBUG 1\""), std::string::npos) << lines;
    EXPECT_NE(read_text(out + ".err").find("run-sim: board " + board.dir()), std::string::npos);
}

}  // namespace
