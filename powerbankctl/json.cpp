// JSON out.
#include "json.h"

namespace powerbankctl {

namespace {

void member(Json *j, const char *key) {
    fputs(j->first ? "\n" : ",\n", j->out);
    j->first = false;
    for (int i = 0; i < j->depth; ++i) {
        fputs("  ", j->out);
    }
    if (key != nullptr) {
        json_string(j->out, key);
        fputs(": ", j->out);
    }
}

}  // namespace

void json_string(FILE *out, const char *s) {
    fputc('"', out);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            fprintf(out, "\\%c", *p);
        } else if (*p < ' ') {
            fprintf(out, "\\u%04x", *p);
        } else {
            fputc(*p, out);
        }
    }
    fputc('"', out);
}

void json_begin(Json *j, const char *key, char open) {
    if (j->depth > 0) {
        member(j, key);
    }
    fputc(open, j->out);
    ++j->depth;
    j->first = true;
}

void json_end(Json *j, char close) {
    --j->depth;
    if (!j->first) {
        fputc('\n', j->out);
        for (int i = 0; i < j->depth; ++i) {
            fputs("  ", j->out);
        }
    }
    fputc(close, j->out);
    j->first = false;
    if (j->depth == 0) {
        fputc('\n', j->out);
    }
}

void json_raw(Json *j, const char *key, const char *text) {
    member(j, key);
    fputs(text, j->out);
}

void json_str(Json *j, const char *key, const char *s) {
    member(j, key);
    s != nullptr ? json_string(j->out, s) : (void)fputs("null", j->out);
}

void json_bool(Json *j, const char *key, bool b) {
    json_raw(j, key, b ? "true" : "false");
}

void json_int(Json *j, const char *key, int n) {
    member(j, key);
    fprintf(j->out, "%d", n);
}

}  // namespace powerbankctl
