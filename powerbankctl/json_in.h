// JSON in: the flat object of arguments rpcd hands an exec plugin on its
// standard input ({"poe1": "auto", "delay": 2.5, "apply": true}).
#pragma once

#include <stddef.h>

namespace powerbankctl {

struct JsonMember {
    enum Type { kString, kNumber, kTrue, kFalse, kNull };
    char name[40];
    char value[80];  // a string unescaped, a number as written
    Type type;
};

// TEXT, one object of strings, numbers, booleans and nulls, into MEMBERS
// (at most MAX); false with the reason in *WHY.
bool json_read_object(const char *text, JsonMember *members, int max, int *count, const char **why);

}  // namespace powerbankctl
