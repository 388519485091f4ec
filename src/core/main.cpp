// powerbank: the power-path supervision daemon. Started by its init script
// with no arguments; runs until it is killed.
#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include "broker/broker.h"
#include "core/control_loop.h"
#include "core/instance_lock.h"
#include "core/state.h"
#include "hw/gpio.h"
#include "led/led_thread.h"
#include "power/thresholds.h"

int main(int argc, char **argv) {
    (void)argv;
    // An init script's log reader that is gone must not take the daemon with
    // it: a write to a broken standard output or error fails and is lost.
    signal(SIGPIPE, SIG_IGN);
    // Under an init script standard output is a pipe: keep every line whole
    // and on its way at once.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    // One daemon at a time, settled before the first hardware file. A start
    // with arguments takes no lock: it does what it always did, lock or not,
    // and then exits with the usage line.
    if (argc == 1 && !powerbank_take_instance_lock()) {
        return 1;
    }
    // The first three steps run before the debug setting is read, so they
    // never write debug lines; a refused start has run them too.
    export_powerbank_gpios();
    powerbank_init_led_task();
    i2c_mcu_init_threshold();
    powerbank_read_debug_setting();

    if (argc != 1) {
        printf("useage:powerbank.sh restart\n");
        return -1;
    }
    printf("powerbank run\n");

    powerbank_init_state(&pbstate);
    powerbank_init_broker_task();

    for (;;) {
        powerbank_control_pass(&pbstate);
        sleep(1);
    }
}
