// The LED thread beside the main thread's LED step, in-process. Under a
// ThreadSanitizer build this is the test that catches a table field shared
// without atomicity; what the step leaves in the table is the step's own
// test. The LED class files do not exist on the build host, so nothing is
// written to hardware.
#include <gtest/gtest.h>
#include <time.h>

#include "led/led_step.h"
#include "led/led_thread.h"
#include "led_fixture.h"

namespace {

TEST(LedThread, StartsOnTheZeroTableAndPlaysBesideTheStep) {
    // As at start-up: the thread runs before the table has its ids.
    set_led_entry(0, {0, 0, 0, 0});
    set_led_entry(1, {0, 0, 0, 0});
    powerbank_init_led_task();
    for (int waited = 0; led_table[1].led_tick.load() < 2; waited++) {
        ASSERT_LT(waited, 10000) << "the LED thread does not tick";
        timespec ms{0, 1000000};
        nanosleep(&ms, nullptr);
    }

    // Then initialise the table and run passes from this thread while the LED
    // thread ticks: port 2 blinks throughout, port 1 goes between off, steady
    // and blinking in port 2's phase. Keep going until the LED thread has
    // moved port 2's tick on ten times.
    powerbank_init_led_state();
    powerbank_close_all_led();
    const powerbank_state passes[] = {
        make_state(0, 1, 1, 1, 2),
        make_state(0, 0, 0, 1, 1),
        make_state(-1, 1, 2, 1, 1),
    };
    int advances = 0;
    uint16_t last = led_table[1].led_tick.load();
    for (int i = 0; advances < 10; i++) {
        ASSERT_LT(i, 100000) << "the LED thread stopped ticking";
        powerbank_state s = passes[i % 3];
        powerbank_set_powerbank_led(&s);
        const uint16_t tick = led_table[1].led_tick.load();
        if (tick != last) {
            advances++;
            last = tick;
        }
        timespec pause{0, 100000};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace
