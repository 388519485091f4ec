// status --json: the status as one JSON object (the schema is in
// docs/integration.md). Unknown is null, never a made-up zero.
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "json.h"
#include "status.h"

namespace powerbankctl {

namespace {

// A published number as JSON, null when it is none.
void number(Json *j, const char *key, const char *text) {
    char *end = nullptr;
    const double v = strtod(text, &end);
    if (text[0] == '\0' || *end != '\0' || !isfinite(v)) {
        json_raw(j, key, "null");
        return;
    }
    char out[32];
    snprintf(out, sizeof out, "%.2f", v);
    json_raw(j, key, out);
}

void port(Json *j, const char *key, const Published::Port &p) {
    const int state = port_state(p);
    const bool detected = p.amps[0] != '\0';
    const bool bank = detected && state > 0;
    json_begin(j, key);
    json_bool(j, "detected", detected);
    state >= 0 ? json_int(j, "state", state) : json_raw(j, "state", "null");
    !detected || (state < 0 && p.state[0] != '\0') ? json_raw(j, "bank", "null")
                                                   : json_bool(j, "bank", bank);
    number(j, "volts", detected ? p.volts : "");
    number(j, "amps", p.amps);
    char watts[32] = "";
    if (detected && p.volts[0] != '\0') {
        snprintf(watts, sizeof watts, "%.2f", atof(p.volts) * atof(p.amps));
    }
    number(j, "watts", watts);
    json_str(j, "class", !bank ? nullptr : state_big(state) ? "60 W or more" : "10 to 60 W");
    json_str(j, "role", !bank ? nullptr : state_charging(state) ? "charging" : "supplying");
    json_end(j);
}

void output(Json *j, const char *key, int on) {
    on < 0 ? json_raw(j, key, "null") : json_bool(j, key, on > 0);
}

}  // namespace

void status_json(const Status &s, FILE *out) {
    Json j{out};
    json_begin(&j, nullptr);
    s.daemon < 0 ? json_raw(&j, "daemon", "null") : json_bool(&j, "daemon", s.daemon > 0);
    json_str(&j, "dc", s.pub.dc[0] != '\0' ? s.pub.dc : nullptr);
    port(&j, "port1", s.pub.ports[0]);
    port(&j, "port2", s.pub.ports[1]);

    json_begin(&j, "outputs");
    json_bool(&j, "derived", true);
    output(&j, "poe1", derived_output(s, s.settings[0].value));
    output(&j, "poe2", derived_output(s, s.settings[1].value));
    output(&j, "ups", derived_output(s, s.settings[2].value));
    json_end(&j);

    json_begin(&j, "over_current");
    static const char *const kNames[4] = {"poe1", "poe2", "ups", "total"};
    for (int i = 0; i < 4; ++i) {
        const char *meaning = oc_meaning(s.pub.oc[i], i == 3);
        if (meaning == nullptr) {
            json_raw(&j, kNames[i], "null");
            continue;
        }
        json_begin(&j, kNames[i]);
        json_int(&j, "state", s.pub.oc[i][0] - '0');
        json_str(&j, "meaning", meaning);
        json_end(&j);
    }
    json_end(&j);

    json_begin(&j, "settings");
    for (int i = 0; i < kSettingCount; ++i) {
        const Setting &setting = kSettings[i];
        const Reading &r = s.settings[i];
        char value[32];
        setting_json(setting, r.value, value, sizeof value);
        json_begin(&j, setting.name);
        json_raw(&j, "value", value);
        json_bool(&j, "default", r.is_default);
        json_str(&j, "stored", r.stored && !r.raw_cut ? r.raw : nullptr);
        if (r.raw_cut) {
            json_bool(&j, "stored_unreadable", true);
        }
        json_str(&j, "read", setting.at_start ? "start" : "policy pass");
        json_end(&j);
    }
    json_end(&j);
    json_end(&j);
}

}  // namespace powerbankctl
