// Finding the broker's trace lines in captured output, whatever line number
// they carry.
#pragma once

#include <string>

// True when TEXT holds "BROKER_TRACE >>> powerbank_broker->FUNC()->line.N : "
// (N any decimal number) followed directly by MESSAGE.
inline bool has_trace(const std::string &text, const std::string &func,
                      const std::string &message) {
    const std::string head = "BROKER_TRACE >>> powerbank_broker->" + func + "()->line.";
    for (size_t pos = text.find(head); pos != std::string::npos; pos = text.find(head, pos + 1)) {
        const size_t digits = pos + head.size();
        const size_t end = text.find_first_not_of("0123456789", digits);
        if (end != std::string::npos && end > digits &&
            text.compare(end, 3 + message.size(), " : " + message) == 0) {
            return true;
        }
    }
    return false;
}
