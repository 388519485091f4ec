// JSON in: one flat object.
#include "json_in.h"

#include <ctype.h>
#include <stdio.h>
#include <string.h>

namespace powerbankctl {

namespace {

const char *skip_blanks(const char *p) {
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') {
        ++p;
    }
    return p;
}

// The string at *P (at its opening quote) into OUT; *P moved behind it.
bool read_string(const char **p, char *out, size_t size, const char **why) {
    const char *s = *p + 1;
    size_t n = 0;
    for (; *s != '"'; ++s) {
        char c = *s;
        if (static_cast<unsigned char>(c) < ' ') {
            *why = c == '\0' ? "a string does not end" : "a control character in a string";
            return false;
        }
        if (c == '\\') {
            static const char kFrom[] = "\"\\/bfnrt";
            static const char kTo[] = "\"\\/\b\f\n\r\t";
            const char *at = *++s != '\0' ? strchr(kFrom, *s) : nullptr;
            unsigned code = 0;
            int digits = 0;
            for (; at == nullptr && *s == 'u' && digits < 4 &&
                   isxdigit(static_cast<unsigned char>(s[digits + 1]));
                 ++digits) {
                const char h =
                    static_cast<char>(tolower(static_cast<unsigned char>(s[digits + 1])));
                code = code * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
            }
            if (at != nullptr) {
                c = kTo[at - kFrom];
            } else if (digits == 4 && code > 0 && code < 0x80) {
                c = static_cast<char>(code);  // settings are plain words: ASCII is enough
                s += 4;
            } else {
                *why = "an escape in a string that is not taken (\\u only below 0080)";
                return false;
            }
        }
        if (n + 1 == size) {
            *why = "a string too long";
            return false;
        }
        out[n++] = c;
    }
    out[n] = '\0';
    *p = s + 1;
    return true;
}

bool read_value(const char **p, JsonMember *m, const char **why) {
    static const struct {
        const char *word;
        JsonMember::Type type;
    } kWords[] = {
        {"true", JsonMember::kTrue}, {"false", JsonMember::kFalse}, {"null", JsonMember::kNull}};
    const char *s = *p;
    if (*s == '"') {
        m->type = JsonMember::kString;
        return read_string(p, m->value, sizeof m->value, why);
    }
    for (const auto &w : kWords) {
        if (strncmp(s, w.word, strlen(w.word)) == 0) {
            m->type = w.type;
            snprintf(m->value, sizeof m->value, "%s", w.word);
            *p = s + strlen(w.word);
            return true;
        }
    }
    const size_t n = strspn(s, "-+0123456789.eE");
    if (n == 0 || n >= sizeof m->value) {
        *why = *s == '{' || *s == '[' ? "nested objects and arrays are not taken" : "a bad value";
        return false;
    }
    m->type = JsonMember::kNumber;
    memcpy(m->value, s, n);
    m->value[n] = '\0';
    *p = s + n;
    return true;
}

}  // namespace

bool json_read_object(const char *text, JsonMember *members, int max, int *count,
                      const char **why) {
    *count = 0;
    const char *p = skip_blanks(text);
    if (*p++ != '{') {
        *why = "not a JSON object";
        return false;
    }
    p = skip_blanks(p);
    for (bool first = true; *p != '}'; first = false) {
        if (!first && *p++ != ',') {
            *why = "a comma or the end of the object missing";
            return false;
        }
        p = skip_blanks(p);
        if (*count == max) {
            *why = "too many members";
            return false;
        }
        JsonMember &m = members[*count];
        if (*p != '"' || !read_string(&p, m.name, sizeof m.name, why)) {
            *why = *p != '"' ? "a member name missing" : *why;
            return false;
        }
        p = skip_blanks(p);
        if (*p++ != ':') {
            *why = "a colon missing";
            return false;
        }
        p = skip_blanks(p);
        if (!read_value(&p, &m, why)) {
            return false;
        }
        ++*count;
        p = skip_blanks(p);
    }
    if (*skip_blanks(p + 1) != '\0') {
        *why = "something after the object";
        return false;
    }
    return true;
}

}  // namespace powerbankctl
