// JSON out, written as it goes: objects and arrays, indented two blanks.
#pragma once

#include <stdio.h>

namespace powerbankctl {

struct Json {
    FILE *out;
    int depth = 0;
    bool first = true;  // nothing written yet at this depth
};

// Opens an object ('{') or array ('['), as member KEY (null: at the top or in
// an array).
void json_begin(Json *j, const char *key, char open = '{');
void json_end(Json *j, char close = '}');
// Member KEY with a value written as is (a number, true, false, null).
void json_raw(Json *j, const char *key, const char *text);
// Member KEY with a string value; null when S is null.
void json_str(Json *j, const char *key, const char *s);
void json_bool(Json *j, const char *key, bool b);
void json_int(Json *j, const char *key, int n);
// S quoted and escaped.
void json_string(FILE *out, const char *s);

}  // namespace powerbankctl
