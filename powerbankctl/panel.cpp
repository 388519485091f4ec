// The status panel, in the words of the board's panel.
#include <stdlib.h>
#include <string.h>

#include "changes.h"
#include "status.h"

namespace powerbankctl {

namespace {

void port_words(const Published::Port &port, char *out, size_t size) {
    const double watts = atof(port.volts) * atof(port.amps);
    const int state = port_state(port);
    if (port.amps[0] == '\0') {
        snprintf(out, size, "not detected yet");
    } else if (port.state[0] == '\0' || state == 0) {
        snprintf(out, size, "none");
    } else if (state < 0) {
        snprintf(out, size, "%sV/%sA, state \"%s\"", port.volts, port.amps, port.state);
    } else {
        snprintf(out, size, "%sV/%sA  %.1f W, %s, %s", port.volts, port.amps, watts,
                 bank_class(state), bank_role(state));
    }
}

const char *output_words(int on) {
    return on > 0 ? "on" : on == 0 ? "off" : "-";
}

}  // namespace

void status_panel(const Status &s, FILE *out) {
    fprintf(out, "daemon    %s\n",
            s.daemon > 0    ? "running (powerbank_broker on the bus)"
            : s.daemon == 0 ? "not on the bus (stopped, or reconnecting)"
                            : "not known (no bus)");
    fprintf(out, "DC        %s\n", s.pub.dc[0] != '\0' ? s.pub.dc : "not known yet");
    for (int port = 0; port < 2; ++port) {
        char words[160];
        port_words(s.pub.ports[port], words, sizeof words);
        fprintf(out, "port %d    %s\n", port + 1, words);
    }
    fprintf(out, "outputs   PoE 1 %-4s  PoE 2 %-4s  UPS %-4s  (derived, not read back)\n",
            output_words(derived_output(s, s.settings[0].value)),
            output_words(derived_output(s, s.settings[1].value)),
            output_words(derived_output(s, s.settings[2].value)));
    const char *oc[4];
    for (int i = 0; i < 4; ++i) {  // the board panel's words
        oc[i] = s.pub.oc[i][0] != '\0' ? pbview::oc_words(s.pub.oc[i], i == 3) : "-";
    }
    fprintf(out, "over-current   PoE 1 %s   PoE 2 %s   UPS %s   total %s\n", oc[0], oc[1], oc[2],
            oc[3]);
    fprintf(out,
            "settings  (as stored; modes and delay taken at the next policy pass, the rest at "
            "start)\n");
    for (int i = 0; i < kSettingCount; ++i) {
        const Reading &r = s.settings[i];
        char words[32];
        setting_words(kSettings[i], r.value, words, sizeof words);
        // The stored text beside what the daemon makes of it, where they differ.
        const bool beside = r.stored && !r.as_written;
        fprintf(out, "  %-17s %s%s%s%.80s%s\n", kSettings[i].name, words,
                r.is_default ? "  default" : "", beside ? "  (stored \"" : "", beside ? r.raw : "",
                beside ? "\")" : "");
    }
}

}  // namespace powerbankctl
