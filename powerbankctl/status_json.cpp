// status --json: the status as one JSON object (the schema is in
// docs/integration.md). Unknown is null, never a made-up zero.
#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "status.h"

namespace powerbankctl {

namespace {

// A published number ("20.00") as it is, or null when it is none.
const char *number(const char *text) {
    const size_t digits = strspn(text, "0123456789");
    const bool ok =
        digits > 0 && (text[digits] == '\0' ||
                       (text[digits] == '.' && text[digits + 1] != '\0' &&
                        text[digits + 1 + strspn(text + digits + 1, "0123456789")] == '\0'));
    return ok ? text : "null";
}

const char *boolean(int b) {
    return b < 0 ? "null" : b > 0 ? "true" : "false";
}

void port(FILE *out, int n, const Published::Port &p) {
    const int state = port_state(p);
    const bool detected = p.amps[0] != '\0';
    const bool bank = detected && state > 0;
    const bool big = state == 1 || state == 4;
    char state_text[12] = "null";
    char watts[32] = "null";
    if (state >= 0) {
        snprintf(state_text, sizeof state_text, "%d", state);
    }
    if (detected && number(p.volts)[0] != 'n' && number(p.amps)[0] != 'n') {
        snprintf(watts, sizeof watts, "%.2f", atof(p.volts) * atof(p.amps));
    }
    fprintf(out,
            ",\n  \"port%d\": {\"detected\": %s, \"state\": %s, \"bank\": %s, \"volts\": %s, "
            "\"amps\": %s, \"watts\": %s, \"class\": %s, \"role\": %s}",
            n, boolean(detected), state_text,
            boolean(!detected || (state < 0 && p.state[0] != '\0') ? -1 : bank),
            detected ? number(p.volts) : "null", detected ? number(p.amps) : "null", watts,
            !bank ? "null"
            : big ? "\"60 W or more\""
                  : "\"10 to 60 W\"",
            !bank       ? "null"
            : state < 3 ? "\"charging\""
                        : "\"supplying\"");
}

}  // namespace

void status_json(const Status &s, FILE *out) {
    fprintf(out, "{\n  \"daemon\": %s,\n  \"dc\": ", boolean(s.daemon));
    json_string(out, s.pub.dc[0] != '\0' ? s.pub.dc : nullptr);
    port(out, 1, s.pub.ports[0]);
    port(out, 2, s.pub.ports[1]);
    fprintf(out, ",\n  \"outputs\": {\"derived\": true, \"poe1\": %s, \"poe2\": %s, \"ups\": %s}",
            boolean(derived_output(s, s.settings[0].value)),
            boolean(derived_output(s, s.settings[1].value)),
            boolean(derived_output(s, s.settings[2].value)));
    static const char *const kNames[4] = {"poe1", "poe2", "ups", "total"};
    fputs(",\n  \"over_current\": {", out);
    for (int i = 0; i < 4; ++i) {
        const char *meaning = oc_meaning(s.pub.oc[i], i == 3);
        fprintf(out, "%s\n    \"%s\": ", i > 0 ? "," : "", kNames[i]);
        if (meaning == nullptr) {
            fputs("null", out);
        } else {
            fprintf(out, "{\"state\": %c, \"meaning\": \"%s\"}", s.pub.oc[i][0], meaning);
        }
    }
    fputs("\n  },\n  \"settings\": {", out);
    for (int i = 0; i < kSettingCount; ++i) {
        const Setting &setting = kSettings[i];
        const Reading &r = s.settings[i];
        char value[32];
        setting_json(setting, r.value, value, sizeof value);
        fprintf(out,
                "%s\n    \"%s\": {\"value\": %s, \"default\": %s, \"stored\": ", i > 0 ? "," : "",
                setting.name, value, boolean(r.is_default));
        json_string(out, r.stored ? r.raw : nullptr);
        fprintf(out, ", \"read\": \"%s\"}", setting.at_start ? "start" : "policy pass");
    }
    fputs("\n  }\n}\n", out);
}

}  // namespace powerbankctl
