// The boardsim tool: defaults of a new board and the encoding of its inputs.
#include <gtest/gtest.h>

#include <string>

#include "scenario.h"

namespace {

using scenario::Board;

TEST(Tool, NewBoardDefaultsAndCcVoltsAsRoundedCounts) {
    Board board;
    EXPECT_EQ(board.get("dc"), "1");

    board.cc(1, 2.2, 3.3);
    board.cc(2, 0.5, 1.65);
    EXPECT_EQ(board.get("adc/93"), "2731");  // 2.2 * 4096 / 3.3 = 2730.67
    EXPECT_EQ(board.get("adc/94"), "4095");  // full scale is clamped to 12 bits
    EXPECT_EQ(board.get("adc/90"), "621");
    // The tool notes each input change in the journal.
    auto input = board.journal_find("input", "cc");
    ASSERT_EQ(input.size(), 2u);
    EXPECT_EQ(input[0].data(), "1 2.2 3.3");
}

}  // namespace
