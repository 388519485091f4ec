#include "bank/rt1719.h"

#include <unistd.h>

#include "base/log.h"
#include "core/state.h"
#include "hw/gpio.h"
#include "hw/i2c.h"

namespace {

// Register 0x10 points at the source capability the controller works with.
constexpr uint8_t kSelectorReg = 0x10;
// Source capability n (1 to 7) starts at 0x0D + 4 * n; only its low three
// bytes are read, the supply-type byte is not.
constexpr uint8_t kPdoBaseReg = 0x0D;
constexpr unsigned int kPdoBytes = 3;

// A power bank of at least 60 W keeps automatic outputs on without DC; one of
// at least 10 W is usable.
constexpr double kHighPowerWatts = 60.0;
constexpr double kUsableWatts = 10.0;

constexpr int kGpioReset = 19;
constexpr useconds_t kResetSettleUs = 2000000;
constexpr useconds_t kResetReleaseUs = 1000000;

// The device behind the super-capacitor and its charge-status register.
constexpr uint16_t kSuperCapAddr = 0x53;
constexpr uint8_t kSuperCapStatusReg = 0x1C;

int classify(double watts) {
    if (watts >= kHighPowerWatts) {
        return kBankTypeHighPower;
    }
    if (watts >= kUsableWatts) {
        return kBankTypeLowPower;
    }
    return kBankTypeNone;
}

struct port_fields {
    int *last_connect_state;
    int *current_connect_state;
    double *voltage;
    double *electricity;
};

// The fields of the port behind ADDR; all null for any other address, which
// is classified and logged but recorded nowhere.
port_fields fields_of(uint16_t addr, powerbank_state *state) {
    if (addr == kRt1719Port1Addr) {
        return {&state->powerbank1_last_connect_state, &state->powerbank1_current_connect_state,
                &state->powerbank1_voltage, &state->powerbank1_electricity};
    }
    if (addr == kRt1719Port2Addr) {
        return {&state->powerbank2_last_connect_state, &state->powerbank2_current_connect_state,
                &state->powerbank2_voltage, &state->powerbank2_electricity};
    }
    return {nullptr, nullptr, nullptr, nullptr};
}

}  // namespace

double rt1719_pdo_voltage(uint8_t /*b0*/, uint8_t b1, uint8_t b2) {
    // Bits 19..10 of the fixed-supply object: voltage in 50 mV units.
    unsigned int units = (static_cast<unsigned int>(b2 & 0x0F) << 6) | (b1 >> 2);
    return static_cast<double>(units * 50u) / 1000.0;
}

double rt1719_pdo_current(uint8_t b0, uint8_t b1) {
    // Bits 9..0: maximum current in 10 mA units.
    unsigned int units = (static_cast<unsigned int>(b1 & 0x03) << 8) | b0;
    return static_cast<double>(units * 10u) / 1000.0;
}

int rt1719_get_type(uint16_t addr, powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    // A read that does not take place leaves these zero: a missing or silent
    // controller looks exactly like an empty port.
    uint8_t selector = 0;
    uint8_t pdo[kPdoBytes] = {};

    (void)i2c_read_reg_bus0(addr, kSelectorReg, &selector, 1);
    powerbank_debug_log(kUnitCommon, "rt1719_get_type", 636, "addr %x  i2c_read_reg10=%x\n\n", addr,
                        selector);

    double voltage = 0.0;
    double current = 0.0;
    double watts = 0.0;
    int type = kBankTypeNone;
    if (selector != 0x00 && selector != 0xFF) {
        unsigned int n = selector & 0x07u;
        if (n != 0) {
            (void)i2c_read_reg_bus0(addr, static_cast<uint8_t>(kPdoBaseReg + 4 * n), pdo,
                                    kPdoBytes);
        }
        voltage = rt1719_pdo_voltage(pdo[0], pdo[1], pdo[2]);
        current = rt1719_pdo_current(pdo[0], pdo[1]);
        watts = current * voltage;
        type = classify(watts);
    }

    port_fields port = fields_of(addr, state);
    if (port.current_connect_state != nullptr) {
        *port.last_connect_state = *port.current_connect_state;
        *port.current_connect_state = type != kBankTypeNone ? kConnectAttached : kConnectNone;
    }
    powerbank_debug_log(kUnitCommon, "rt1719_get_type", 721,
                        "%x powerbank_power=%.2fW  powerbank_type=%d "
                        "powerbank1_current_connect_state=%d  "
                        "pbstate->powerbank2_current_connect_state=%d\n\n",
                        addr, watts, type, state->powerbank1_current_connect_state,
                        state->powerbank2_current_connect_state);
    // Kept for a weak power bank too, so the display can still show what it offers.
    if (port.voltage != nullptr) {
        *port.voltage = voltage;
        *port.electricity = current;
    }
    return type;
}

int rt1719_reset(powerbank_state *state) {
    if (state == nullptr) {
        return -1;
    }
    // GPIO 25 is driven as an output while the controllers settle; failures
    // of the GPIO files do not stop the sequence.
    (void)set_gpio_value(kGpioReset, 1);
    (void)set_gpio25_direction_out();
    usleep(kResetSettleUs);

    state->powerbank1_type = rt1719_get_type(kRt1719Port1Addr, state);
    state->powerbank2_type = rt1719_get_type(kRt1719Port2Addr, state);
    powerbank_debug_log(kUnitCommon, "rt1719_reset", 746,
                        "pbstate->powerbank1_type = %d  pbstate->powerbank2_type=%d \n\n",
                        state->powerbank1_type, state->powerbank2_type);

    // Back to an input: GPIO 25 is the DC-input line the loop samples.
    (void)set_gpio25_direction("in");
    usleep(kResetReleaseUs);
    (void)set_gpio_value(kGpioReset, 0);
    return 0;
}

int rt1719_get_super_capacitor_charge_status() {
    uint8_t value = 0;
    (void)i2c_read_reg_bus0(kSuperCapAddr, kSuperCapStatusReg, &value, 1);
    unsigned int status = value & 0xE0u;
    powerbank_debug_log(kUnitCommon, "rt1719_get_super_capacitor_charge_status", 573,
                        "Super Capacitor Charge Status %x charge_status=%x\n\n", value, status);
    if (status == 0xE0) {
        return 1;
    }
    if (status == 0x80 || status == 0x60) {
        return 2;
    }
    return 0;
}
