// JSON out.
#include "json.h"

namespace powerbankctl {

void json_string(FILE *out, const char *s) {
    if (s == nullptr) {
        fputs("null", out);
        return;
    }
    fputc('"', out);
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(s); *p; ++p) {
        if (*p == '"' || *p == '\\') {
            fputc('\\', out);
        }
        if (*p < ' ') {
            fprintf(out, "\\u%04x", *p);
        } else {
            fputc(*p, out);
        }
    }
    fputc('"', out);
}

void json_error(const char *why) {
    fputs("{\"error\": ", stdout);
    json_string(stdout, why);
    fputs("}\n", stdout);
}

}  // namespace powerbankctl
