// Small searches over a board's journal for the supervision scenarios.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "scenario.h"

namespace supervision {

using scenario::JournalLine;

// GPIO 25's direction as the reset writes it: the text and zero bytes, ten in all.
inline const std::string kDirOut("out\0\0\0\0\0\0\0", 10);
inline const std::string kDirIn("in\0\0\0\0\0\0\0\0", 10);

inline bool is_data(const JournalLine &l, const std::string &kind, const std::string &name,
                    const std::string &op, const std::string &data) {
    return l.kind == kind && l.name() == name && l.op() == op && l.data() == data;
}

// A successful write of DATA to GPIO, MCU or LED file NAME.
inline bool is_write(const JournalLine &l, const std::string &kind, const std::string &name,
                     const std::string &data) {
    return is_data(l, kind, name, "write", data) && l.tag("err").empty();
}

// A request "r CH\n" written to the ADC or over-current file.
inline bool is_request(const JournalLine &l, const std::string &file, const std::string &what) {
    return is_write(l, "mcu", file, "r " + what + "\n");
}

inline bool is_adc_request(const JournalLine &l, const std::string &channel) {
    return is_request(l, "ms51_adc", channel);
}

// An I2C transaction on device ADDR that starts by addressing register REG
// (both two hex digits).
inline bool is_i2c_read(const JournalLine &l, const std::string &addr, const std::string &reg) {
    return l.kind == "i2c" && l.field(0) == addr && l.field(2) == "0000:1:" + reg;
}

// Index of the first line at or after FROM for which PRED holds, or j.size().
template <class Pred>
size_t find_from(const std::vector<JournalLine> &j, size_t from, Pred pred) {
    for (size_t i = from; i < j.size(); i++) {
        if (pred(j[i])) {
            return i;
        }
    }
    return j.size();
}

// Indices of every line at or after FROM for which PRED holds.
template <class Pred>
std::vector<size_t> find_all(const std::vector<JournalLine> &j, size_t from, Pred pred) {
    std::vector<size_t> out;
    for (size_t i = from; i < j.size(); i++) {
        if (pred(j[i])) {
            out.push_back(i);
        }
    }
    return out;
}

// Number of lines strictly between A and B for which PRED holds.
template <class Pred>
size_t count_between(const std::vector<JournalLine> &j, size_t a, size_t b, Pred pred) {
    size_t n = 0;
    for (size_t i = a + 1; i < b && i < j.size(); i++) {
        n += pred(j[i]) ? 1 : 0;
    }
    return n;
}

// Number of lines before index END for which PRED holds.
template <class Pred>
size_t count_before(const std::vector<JournalLine> &j, size_t end, Pred pred) {
    size_t n = 0;
    for (size_t i = 0; i < end && i < j.size(); i++) {
        n += pred(j[i]) ? 1 : 0;
    }
    return n;
}

// The lines of the main thread's hardware effects (GPIO, I2C, MCU), leaving
// out the LED thread's and the broker's.
inline bool is_hw(const JournalLine &l) {
    return l.kind == "gpio" || l.kind == "i2c" || l.kind == "mcu";
}

}  // namespace supervision
