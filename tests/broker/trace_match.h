// Finding the broker's trace lines in captured output, whatever line number
// they carry.
#pragma once

#include <ctype.h>

#include <string>

// True when TEXT holds "BROKER_TRACE >>> powerbank_broker->FUNC()->line.N : "
// (N any decimal number) followed directly by MESSAGE.
inline bool has_trace(const std::string &text, const std::string &func,
                      const std::string &message) {
    const std::string head = "BROKER_TRACE >>> powerbank_broker->" + func + "()->line.";
    for (size_t pos = text.find(head); pos != std::string::npos; pos = text.find(head, pos + 1)) {
        size_t i = pos + head.size();
        size_t digits = i;
        while (i < text.size() && isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        if (i > digits && text.compare(i, 3 + message.size(), " : " + message) == 0) {
            return true;
        }
    }
    return false;
}
