// The status panel, in the words of the board's panel.
#include <stdlib.h>
#include <string.h>

#include "changes.h"
#include "status.h"

namespace powerbankctl {

namespace {

void port_line(FILE *out, int n, const Published::Port &port) {
    const int state = port_state(port);
    fprintf(out, "port %d    ", n);
    if (port.amps[0] == '\0') {
        fputs("not detected yet\n", out);
    } else if (port.state[0] == '\0' || state == 0) {
        fputs("none\n", out);
    } else if (state < 0) {
        fprintf(out, "%sV/%sA, state \"%s\"\n", port.volts, port.amps, port.state);
    } else {
        fprintf(out, "%sV/%sA  %.1f W, %s, %s\n", port.volts, port.amps,
                atof(port.volts) * atof(port.amps), bank_class(state), bank_role(state));
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
        port_line(out, port + 1, s.pub.ports[port]);
    }
    // The outputs, then the total of the over-current states.
    static const char kNames[4][6] = {"PoE 1", "PoE 2", "UPS", "total"};
    fputs("outputs  ", out);
    for (int i = 0; i < 3; ++i) {
        fprintf(out, " %s %-4s ", kNames[i], output_words(derived_output(s, s.settings[i].value)));
    }
    fputs(" (derived, not read back)\nover-current", out);
    for (int i = 0; i < 4; ++i) {  // the board panel's words
        fprintf(out, "   %s %s", kNames[i],
                s.pub.oc[i][0] != '\0' ? pbview::oc_words(s.pub.oc[i], i == 3) : "-");
    }
    fputc('\n', out);
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
