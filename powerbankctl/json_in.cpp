// JSON in: one flat object of plain values.
#include "json_in.h"

#include <string.h>

namespace powerbankctl {

namespace {

const char kBlanks[] = " \t\r\n";

// The token at P, blanks before it skipped: a string without escapes, or a
// bare word, into OUT (SIZE bytes). Where the next one starts, or null.
const char *token(const char *p, char *out, size_t size, bool *quoted) {
    p += strspn(p, kBlanks);
    *quoted = *p == '"';
    p += *quoted;
    const size_t n = strcspn(p, *quoted ? "\"\\" : ",:}\"\\ \t\r\n");
    if ((*quoted ? p[n] != '"' : n == 0) || n >= size) {
        return nullptr;
    }
    memcpy(out, p, n);
    out[n] = '\0';
    p += n + *quoted;
    return p + strspn(p, kBlanks);
}

}  // namespace

bool json_read_object(const char *text, JsonMember *members, int max, int *count) {
    const char *p = text + strspn(text, kBlanks);
    *count = 0;
    if (*p++ != '{') {
        return false;
    }
    p += strspn(p, kBlanks);
    for (char next = *p == '}' ? *p++ : ','; next == ',';) {
        JsonMember &m = members[*count];
        bool quoted = false;
        if (*count == max || (p = token(p, m.name, sizeof m.name, &quoted)) == nullptr || !quoted ||
            *p++ != ':' || (p = token(p, m.value, sizeof m.value, &m.quoted)) == nullptr ||
            ((next = *p++) != ',' && next != '}')) {
            return false;
        }
        ++*count;
    }
    return p[strspn(p, kBlanks)] == '\0';
}

}  // namespace powerbankctl
