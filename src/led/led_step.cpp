#include "led/led_step.h"

#include "base/log.h"
#include "core/state.h"
#include "led/led_table.h"

namespace {

// Steady (charging) or off: the tick restarts at 0, so the LED thread repeats
// the steady write once after every pass.
void set_entry_still(led_entry &entry, uint16_t value) {
    entry.led_value.store(value, kLedOrder);
    entry.led_mode.store(kLedModeSteady, kLedOrder);
    entry.led_tick.store(0, kLedOrder);
}

// Blinking (discharging): the tick keeps running so the blink is not
// disturbed by the pass.
void set_entry_blinking(led_entry &entry, int type) {
    entry.led_value.store(type == kBankTypeHighPower ? kLedValueHigh : kLedValueLow, kLedOrder);
    entry.led_mode.store(kLedModeBlink, kLedOrder);
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
    if (connect_state != kConnectAttached) {
        show_off(entry, port);
        return;
    }
    powerbank_debug_log(kUnitPowerbank, kStepFunc, __LINE__, " powerbank%d charging\n\n", port);
    set_entry_still(entry, kLedValueLow);
}

// DC absent or unknown: an attached bank supplies the device, shown blinking,
// brighter for a bank of 60 W or more. True when the port blinks.
bool show_discharging(led_entry &entry, int port, int connect_state, int type) {
    if (connect_state != kConnectAttached) {
        show_off(entry, port);
        return false;
    }
    if (type == kBankTypeHighPower) {
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

int powerbank_set_powerbank_led(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    led_entry &port1 = led_table[0];
    led_entry &port2 = led_table[1];

    if (state->dc_current_state == kDcPresent) {
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
        port1.led_tick.store(port2.led_tick.load(kLedOrder), kLedOrder);
    }
    return 0;
}
