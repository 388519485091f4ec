// Helpers shared by the harness's files.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace scenario::detail {

// Real-time cap on any wait, so a stalled board cannot hang a test run.
constexpr long long kRealCapMs = 120000;

[[nodiscard]] long long real_ms();
// A short pause between polls of a condition (not a wait for time to pass).
void poll_pause();
[[nodiscard]] std::string read_whole(const std::string &path);
// A file's content without one trailing newline; nullopt when it is missing.
[[nodiscard]] std::optional<std::string> read_value(const std::string &path);
// The shortest text that reads back as V.
[[nodiscard]] std::string format_number(double v);
// Reaps PID when it has exited; true then, with *STATUS the exit status or
// 128 + signal.
bool reap(pid_t pid, int *status);
// Waits up to CAP_MS real milliseconds for PID to exit, then kills it; its
// status. *KILLED tells whether it had to be killed.
int reap_or_kill(pid_t pid, long long cap_ms, bool *killed = nullptr);
// The cross build's emulator command, split in words (none in a native build).
[[nodiscard]] std::vector<std::string> emulator_words();
// True for the programs this build made (they run through the emulator).
[[nodiscard]] bool is_built_program(const std::string &path);

}  // namespace scenario::detail
