// The RT1719 USB-PD controllers of the two USB-C ports (port 1 at 0x43, port 2
// at 0x40): capability decoding, classification by power and the reset.
#pragma once

#include <stdint.h>

struct powerbank_state;

inline constexpr uint16_t kRt1719Port1Addr = 0x43;
inline constexpr uint16_t kRt1719Port2Addr = 0x40;

// Raises GPIO 19, turns GPIO 25 to an output, waits 2 s, types port 1 then
// port 2, turns GPIO 25 back to an input, waits 1 s, lowers GPIO 19.
// 0 after the whole sequence; -1 for a null record.
int rt1719_reset(powerbank_state *state);

// Reads the port's selected source capability and classifies it by its power
// (a kBankType... value). Updates the port's connect states, voltage and
// current. -1 for a null record.
int rt1719_get_type(uint16_t addr, powerbank_state *state);

double rt1719_pdo_voltage(uint8_t b0, uint8_t b1, uint8_t b2);
double rt1719_pdo_current(uint8_t b0, uint8_t b1);

// Charge status of the super-capacitor behind device 0x53: 1 for 0xE0, 2 for
// 0x80 or 0x60, else 0.
int rt1719_get_super_capacitor_charge_status();
