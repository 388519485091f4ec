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

// -1 null, 0 false, 1 true.
const char *boolean(int b) {
    static const char kWords[3][6] = {"null", "false", "true"};
    return kWords[b < 0 ? 0 : b > 0 ? 2 : 1];
}

void port(FILE *out, int n, const Published::Port &p) {
    const int state = port_state(p);
    const bool detected = p.amps[0] != '\0';
    const bool bank = detected && state > 0;
    const char *volts = detected ? number(p.volts) : "null";
    const char *amps = detected ? number(p.amps) : "null";
    char watts[32] = "null";
    if (volts[0] != 'n' && amps[0] != 'n') {
        snprintf(watts, sizeof watts, "%.2f", atof(volts) * atof(amps));
    }
    // (A state the daemon writes is one digit, published as it is.)
    fprintf(out,
            ",\n  \"port%d\": {\"detected\": %s, \"state\": %s, \"bank\": %s, \"volts\": %s, "
            "\"amps\": %s, \"watts\": %s, \"class\": ",
            n, boolean(detected), state >= 0 ? p.state : "null",
            boolean(!detected || (state < 0 && p.state[0] != '\0') ? -1 : bank), volts, amps,
            watts);
    json_string(out, bank ? bank_class(state) : nullptr);
    fputs(", \"role\": ", out);
    json_string(out, bank ? bank_role(state) : nullptr);
    fputc('}', out);
}

}  // namespace

void status_json(const Status &s, FILE *out) {
    fprintf(out, "{\n  \"daemon\": %s,\n  \"dc\": ", boolean(s.daemon));
    json_string(out, s.pub.dc[0] != '\0' ? s.pub.dc : nullptr);
    for (int i = 0; i < 2; ++i) {
        port(out, i + 1, s.pub.ports[i]);
    }
    // The outputs, then the total of the over-current states.
    static const char kNames[4][6] = {"poe1", "poe2", "ups", "total"};
    fputs(",\n  \"outputs\": {\"derived\": true", out);
    for (int i = 0; i < 3; ++i) {
        fprintf(out, ", \"%s\": %s", kNames[i], boolean(derived_output(s, s.settings[i].value)));
    }
    fputs("},\n  \"over_current\": {", out);
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
