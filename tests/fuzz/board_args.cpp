// The board tool's input verbs: each input is an argument vector, its words
// separated by NUL bytes (the verb first). Whatever the words, the parser
// either refuses them with a usage text and no change, or gives changes that
// stay inside the board's model files and are whole lines of text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "input_args.h"

using boardsim_tool::InputChange;
using boardsim_tool::InputChanges;

namespace {

bool terminated(const char *text, size_t size) {
    return memchr(text, '\0', size) != nullptr;
}

// The files a verb may replace: the DC level, an ADC channel, a controller's
// registers, the over-current register, a store key of the configuration.
bool model_file(const char *rel) {
    const size_t key = strlen(rel) - 7;
    return (strncmp(rel, "config/", 7) == 0 && key >= 1 && key <= 64 && rel[7] != '.' &&
            strspn(rel + 7, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-") ==
                key) ||
           strcmp(rel, "in/dc") == 0 || strcmp(rel, "i2c/43") == 0 || strcmp(rel, "i2c/40") == 0 ||
           strcmp(rel, "mcu/reg/a9") == 0 ||
           (strncmp(rel, "in/adc/", 7) == 0 && strlen(rel) == 9 &&
            strspn(rel + 7, "0123456789abcdef") == 2);
}

bool valid(const InputChange &c) {
    if (!terminated(c.rel, sizeof c.rel) || !terminated(c.text, sizeof c.text)) {
        return false;
    }
    const size_t len = strlen(c.text);
    switch (c.kind) {
        case InputChange::kPut:
            return model_file(c.rel) && len > 0 && c.text[len - 1] == '\n';
        case InputChange::kAddFault:
        case InputChange::kRemoveFault:
            return len > 0 && strchr(c.text, '\n') == nullptr;
        case InputChange::kClearFaults:
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    constexpr int kMaxWords = 8;
    char text[256];
    if (size >= sizeof text) {
        return 0;
    }
    memcpy(text, data, size);
    text[size] = '\0';
    const char *argv[kMaxWords];
    int argc = 0;
    for (size_t at = 0; at < size && argc < kMaxWords; at += strlen(text + at) + 1) {
        argv[argc++] = text + at;
    }
    InputChanges out;
    const bool ok = boardsim_tool::parse_input(argc, argv, &out);
    if (ok != (out.usage == nullptr) || !terminated(out.why, sizeof out.why) ||
        ok != (out.why[0] == '\0') || (ok ? out.count < 1 : out.count != 0) ||
        out.count > InputChanges::kMax) {
        abort();
    }
    for (int i = 0; i < out.count; i++) {
        if (!valid(out.items[i])) {
            abort();
        }
    }
    return 0;
}
