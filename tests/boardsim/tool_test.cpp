// The boardsim tool: defaults of a new board and the encoding of its inputs.
#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

namespace {

using scenario::Board;

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

}  // namespace
