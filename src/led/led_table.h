// The LED state table and the LED file writes. The table is the only state the
// main thread shares with the LED thread: each field is a 16-bit atomic, read
// and written whole, and nothing is locked. Both threads write the LED files:
// the LED thread on its ticks, the main thread at initialisation and in the
// LED step for a port without an attached bank.
#pragma once

#include <stdint.h>

#include <atomic>

// What an entry's led_value lights the LED with.
inline constexpr uint16_t kLedValueLow = 0;   // lit, written as "1"
inline constexpr uint16_t kLedValueHigh = 1;  // lit, written as "255"
inline constexpr uint16_t kLedValueOff = 2;

// How an entry's led_mode plays its value.
inline constexpr uint16_t kLedModeSteady = 0;
inline constexpr uint16_t kLedModeBlink = 1;

// Lock-free on the device: the loads and stores are plain 16-bit accesses and
// the LED thread's compare-and-exchange of the tick an inline ll/sc loop,
// never a call into libatomic (which the daemon does not link).
static_assert(std::atomic<uint16_t>::is_always_lock_free);

// The order of every access to the table. Each field is a 16-bit atomic, so no
// read or write of it is ever torn and the two threads never race in the
// language's sense. Relaxed ordering is enough: each field stands alone,
// nothing else in memory is published through the table, and the only effect
// is the LED file write, which the kernel orders by itself.
inline constexpr auto kLedOrder = std::memory_order_relaxed;

struct led_entry {
    std::atomic<uint16_t> led_id;     // LED number in the file path; 0 before initialisation
    std::atomic<uint16_t> led_value;  // kLedValue...
    std::atomic<uint16_t> led_mode;   // kLedMode...
    std::atomic<uint16_t> led_tick;   // LED thread tick, one step per 100 ms
};

// Entry 0 is port 1, entry 1 port 2. Zero-filled at program start.
extern led_entry led_table[2];

// Main thread, at initialisation: ids 1 and 2, both entries off and steady at
// tick 0; no file is written.
void powerbank_init_led_state();
// Main thread, at initialisation: both entries off again and "0" written to
// LED 1, then LED 2.
void powerbank_close_all_led();
// The LED file writes, called by either thread. Both write the LED's
// "/sys/class/leds/usbcN/LineLedControl" file and return 0 once it was opened,
// -1 when LED is not the led_id of entry 0 or 1 or the file cannot be opened
// (silently: nobody looks at the result).
// "255" for kLedValueHigh, "1" for kLedValueLow; any other value opens and
// closes the file without data.
int powerbank_led_on(int value, int led);
// "0" to the LED's file.
int powerbank_led_off(int led);
