#include "led/led_step.h"

#include <pthread.h>
#include <unistd.h>

#include "base/log.h"
#include "core/state.h"
#include "led/led_table.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr useconds_t kLedTickUs = 100000;
// The tick wraps from 254 to 5: it keeps its phase in the blink period of
// ten ticks and never comes back to 0, which only the LED step sets.
constexpr uint16_t kTickLimit = 255;
constexpr uint16_t kBlinkPeriod = 10;
constexpr uint16_t kBlinkOffPhase = 5;

pthread_t led_thread;

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

// Steady (charging) or off: the tick restarts at 0, so the LED thread repeats
// the steady write once after every pass.
void set_entry_still(led_entry &entry, uint16_t value) {
    entry.led_value.store(value, kRelaxed);
    entry.led_mode.store(kLedModeSteady, kRelaxed);
    entry.led_tick.store(0, kRelaxed);
}

// Blinking (discharging): the tick keeps running so the blink is not
// disturbed by the pass.
void set_entry_blinking(led_entry &entry, int type) {
    entry.led_value.store(type == 1 ? kLedValueHigh : kLedValueLow, kRelaxed);
    entry.led_mode.store(kLedModeBlink, kRelaxed);
}

void set_entry_off(led_entry &entry, int led) {
    set_entry_still(entry, kLedValueOff);
    powerbank_led_off(led);
}

// The LED step's lines all name the step, whichever port they are about.
constexpr const char kStepFunc[] = "powerbank_set_powerbank_led";

// No bank on the port: off at once, and the tick restarts.
void show_off(led_entry &entry, int port) {
    powerbank_debug_log(kUnitPowerbank, kStepFunc, __LINE__, " powerbank%d off\n\n", port);
    set_entry_off(entry, port);
}

// DC present: an attached bank is being charged, shown steady.
void show_charging(led_entry &entry, int port, int connect_state) {
    if (connect_state != 1) {
        show_off(entry, port);
        return;
    }
    powerbank_debug_log(kUnitPowerbank, kStepFunc, __LINE__, " powerbank%d charging\n\n", port);
    set_entry_still(entry, kLedValueLow);
}

// DC absent or unknown: an attached bank supplies the device, shown blinking,
// brighter for a bank of 60 W or more. True when the port blinks.
bool show_discharging(led_entry &entry, int port, int connect_state, int type) {
    if (connect_state != 1) {
        show_off(entry, port);
        return false;
    }
    if (type == 1) {
        powerbank_debug_log(kUnitPowerbank, kStepFunc, __LINE__, " powerbank%d 65W discharge\n\n",
                            port);
    } else {
        powerbank_debug_log(kUnitPowerbank, kStepFunc, __LINE__,
                            " powerbank%d no 65W discharge\n\n", port);
    }
    set_entry_blinking(entry, type);
    return true;
}

}  // namespace

void powerbank_init_led_task() {
    // Started before the debug setting is read: a failure has nowhere to go.
    (void)pthread_create(&led_thread, nullptr, led_task, nullptr);
}

void powerbank_led_process() {
    for (led_entry &entry : led_table) {
        const uint16_t tick = entry.led_tick.load(kRelaxed);
        powerbank_led_show(entry.led_id.load(kRelaxed), entry.led_value.load(kRelaxed),
                           entry.led_mode.load(kRelaxed), tick);
        // Advance only the tick that was shown. If the LED step wrote the tick
        // meanwhile (a restart at 0, or port 2's phase), its value wins and is
        // played on the next tick instead of being overwritten here.
        uint16_t expected = tick;
        entry.led_tick.compare_exchange_strong(expected, next_tick(tick), kRelaxed, kRelaxed);
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

int powerbank_set_powerbank_led(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    led_entry &port1 = led_table[0];
    led_entry &port2 = led_table[1];

    if (state->dc_current_state == 1) {
        show_charging(port1, 1, state->powerbank1_current_connect_state);
        show_charging(port2, 2, state->powerbank2_current_connect_state);
        return 0;
    }
    const bool port1_blinks =
        show_discharging(port1, 1, state->powerbank1_current_connect_state, state->powerbank1_type);
    const bool port2_blinks =
        show_discharging(port2, 2, state->powerbank2_current_connect_state, state->powerbank2_type);
    // Two blinking LEDs blink in step: port 1 takes port 2's phase.
    if (port1_blinks && port2_blinks) {
        port1.led_tick.store(port2.led_tick.load(kRelaxed), kRelaxed);
    }
    return 0;
}
