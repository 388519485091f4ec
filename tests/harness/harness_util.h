// Helpers shared by the harness's files.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace scenario::detail {

// Real-time cap on any wait, so a stalled board cannot hang a test run.
constexpr long long kRealCapMs = 120000;
// Real-time limit of a helper run to completion.
constexpr long long kHelperCapMs = 30000;
// Grace period between SIGTERM and SIGKILL, real milliseconds.
constexpr long long kStopGraceMs = 3000;

[[nodiscard]] long long real_ms();
// A short pause between polls of a condition (not a wait for time to pass).
void poll_pause();
[[nodiscard]] std::string read_whole(const std::string &path);
// A file's content without one trailing newline; nullopt when it is missing.
[[nodiscard]] std::optional<std::string> read_value(const std::string &path);
// Replaces PATH through a temporary file and rename.
bool write_whole(const std::string &path, const std::string &data);
void remove_tree(const std::string &path);
// The shortest text that reads back as V.
[[nodiscard]] std::string format_number(double v);
// Exit status, or 128 + signal.
[[nodiscard]] int decode_status(int status);
// Reaps PID when it has exited; true then, with *STATUS decoded.
bool reap(pid_t pid, int *status);
// The cross build's emulator command ("" in a native build), split in words.
[[nodiscard]] const char *emulator();
[[nodiscard]] std::vector<std::string> emulator_words();
// True for the programs this build made (they run through the emulator).
[[nodiscard]] bool is_built_program(const std::string &path);

}  // namespace scenario::detail
