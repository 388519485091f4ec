// The input verbs' arguments as changes to the board's model files.
//
// Parsing is kept apart from the file work so that it can be driven with any
// argument vector: nothing here touches a file, the environment or errno's
// readers, and every buffer is bounded.
#pragma once

namespace boardsim_tool {

struct InputChange {
    enum Kind : unsigned char {
        kPut,          // replace model file REL with TEXT
        kAddFault,     // add the line TEXT to the faults
        kRemoveFault,  // remove the line TEXT from the faults
        kClearFaults,  // remove every fault
    };
    Kind kind = kPut;
    char rel[80] = {};   // kPut: the file, relative to the board directory
    char text[96] = {};  // kPut: the new content; faults: the line
};

struct InputChanges {
    static constexpr int kMax = 4;
    InputChange items[kMax];
    int count = 0;
    const char *usage = nullptr;  // when refused: what the verb takes
    char why[160] = {};           // and why, naming the word refused
};

// CC line voltages that `bank` sets: 2.5 V reads high (2.2 V and above), 0 V
// low, so that with DC present the daemon's CC watch sees a bank come and go.
constexpr double kCcAttachedVolts = 2.5;
constexpr double kCcDetachedVolts = 0.0;

// ARGV[0] is the verb (dc, bank, cc, adc, oc, config or fault), the rest its
// arguments. Fills OUT with the changes that carry the verb out, in order;
// false, with OUT->usage and OUT->why set, when the verb or its arguments
// are refused.
bool parse_input(int argc, const char *const *argv, InputChanges *out);

// VALID: words ending in null. The one nearest to WORD (fewest single-byte
// edits), for a refusal to name.
const char *nearest_word(const char *word, const char *const *valid);

// S as a whole number in BASE (0: decimal or 0x..); false for anything else.
bool parse_long(const char *s, int base, long *out);

}  // namespace boardsim_tool
