// Helpers shared by the harness's files.
#pragma once

#include <string>
#include <vector>

namespace scenario::detail {

// Real-time cap on any wait, so a stalled board cannot hang a test run.
constexpr long long kRealCapMs = 120000;

[[nodiscard]] long long real_ms();
// A short pause between polls of a condition (not a wait for time to pass).
void poll_pause();
[[nodiscard]] std::string read_whole(const std::string &path);
// The shortest text that reads back as V.
[[nodiscard]] std::string format_number(double v);
// HEAD followed by TAIL.
[[nodiscard]] std::vector<std::string> joined(std::vector<std::string> head,
                                              const std::vector<std::string> &tail);

}  // namespace scenario::detail
