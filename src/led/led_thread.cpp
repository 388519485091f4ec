#include "led/led_thread.h"

#include <pthread.h>
#include <unistd.h>

#include "led/led_table.h"

namespace {

constexpr useconds_t kLedTickUs = 100000;
// The tick wraps from 254 to 5: it keeps its phase in the blink period of
// ten ticks and never comes back to 0 here; only the LED step and the table's
// initialisation set it to 0.
constexpr uint16_t kTickLimit = 255;
constexpr uint16_t kBlinkPeriod = 10;
constexpr uint16_t kBlinkOffPhase = 5;

void *led_task(void *) {
    for (;;) {
        powerbank_led_process();
        usleep(kLedTickUs);
    }
    return nullptr;
}

uint16_t next_tick(uint16_t tick) {
    uint16_t next = static_cast<uint16_t>(tick + 1);
    return next < kTickLimit ? next : static_cast<uint16_t>(next % kBlinkPeriod);
}

}  // namespace

void powerbank_init_led_task() {
    // The thread runs until the process ends: nobody joins it.
    static pthread_t thread;
    // Started before the debug setting is read: a failure has nowhere to go.
    (void)pthread_create(&thread, nullptr, led_task, nullptr);
}

void powerbank_led_process() {
    for (led_entry &entry : led_table) {
        const uint16_t tick = entry.led_tick.load(kLedOrder);
        powerbank_led_show(entry.led_id.load(kLedOrder), entry.led_value.load(kLedOrder),
                           entry.led_mode.load(kLedOrder), tick);
        // Advance only the tick that was shown. If the LED step wrote the tick
        // meanwhile (a restart at 0, or port 2's phase), its value wins and is
        // played on the next tick instead of being overwritten here.
        uint16_t expected = tick;
        entry.led_tick.compare_exchange_strong(expected, next_tick(tick), kLedOrder, kLedOrder);
    }
}

void powerbank_led_show(uint16_t led, uint16_t value, uint16_t mode, uint16_t tick) {
    if (tick == 0) {
        // The steady write, in every mode: "255", "1", or an open without data.
        powerbank_led_on(value, led);
        return;
    }
    if (mode != kLedModeBlink) {
        return;
    }
    if (tick % kBlinkPeriod == 0) {
        powerbank_led_on(value, led);
    } else if (tick % kBlinkPeriod == kBlinkOffPhase) {
        powerbank_led_off(led);
    }
}
