// led_probe: runs a sequence of LED table operations in one process, so a test
// can run it on a simulated board and read the LED writes from the journal.
//   led_probe OP...   with OP one of: init | on VALUE LED | off LED
#include <stdlib.h>
#include <string.h>

#include "led/led_table.h"

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "init") == 0) {
            powerbank_init_led_state();
        } else if (strcmp(argv[i], "on") == 0 && i + 2 < argc) {
            powerbank_led_on(atoi(argv[i + 1]), atoi(argv[i + 2]));
            i += 2;
        } else if (strcmp(argv[i], "off") == 0 && i + 1 < argc) {
            powerbank_led_off(atoi(argv[i + 1]));
            i += 1;
        } else {
            return 2;
        }
    }
    return 0;
}
