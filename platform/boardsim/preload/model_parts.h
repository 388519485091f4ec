// Pieces of the board model shared by its files (GPIO, MCU, paths and faults).
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include "model.h"

namespace boardsim {

constexpr int kGpioCount = 64;

enum McuFileIndex { kReg, kAdc, kOverCurrent, kPse1, kPse2, kUps, kLeds, kMcuFileCount };
extern const char *const kMcuFiles[kMcuFileCount];

// Model files of the board directory (REL is relative to it).
[[nodiscard]] long board_number(const char *rel, long fallback);
// 0, or -errno.
int board_store_number(const char *rel, long value);
int board_store_text(const char *rel, const char *data, size_t len);

// sysfs GPIO: one write call (0 or -errno) and the answer of a read.
[[nodiscard]] bool gpio_exported(int pin);
ssize_t gpio_store(const Target &t, const char *text);
ssize_t gpio_show(const Target &t, char *buf, size_t size);

// The MCU driver's attribute files.
ssize_t mcu_store(const Target &t, const char *text);
ssize_t mcu_show(const Target &t, char *buf, size_t size);

}  // namespace boardsim
