// JSON in: the flat object of arguments rpcd hands an exec plugin on its
// standard input ({"poe1": "auto", "delay": 2.5, "apply": true}).
#pragma once

#include <stddef.h>

namespace powerbankctl {

struct JsonMember {
    char name[40];
    char value[80];  // a string's text, or the other value as written
    bool quoted;     // a string
};

// TEXT, one object of names and plain values (strings without escapes, which
// no setting needs, numbers, booleans, null), into MEMBERS (at most MAX);
// false when it is anything else.
bool json_read_object(const char *text, JsonMember *members, int max, int *count);

}  // namespace powerbankctl
