// The simulated kernel interfaces: which paths belong to the board and how
// their files behave (sysfs GPIO, the MCU driver's attributes, the port LEDs).
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace boardsim {

enum class Node {
    GpioRoot,      // /sys/class/gpio
    GpioExport,    // /sys/class/gpio/export
    GpioUnexport,  // /sys/class/gpio/unexport
    GpioDir,       // /sys/class/gpio/gpioN
    GpioAttr,      // /sys/class/gpio/gpioN/{direction,value}
    McuDir,        // .../0-0051/ms51-dev (either route)
    McuFile,       // .../ms51-dev/ms51_*
    LedDir,        // /sys/class/leds/usbcN
    LedFile,       // /sys/class/leds/usbcN/LineLedControl
    I2cDev,        // /dev/i2c-0
};

enum GpioAttrKind { kGpioDirection = 0, kGpioValue = 1 };
enum McuRoute { kRoutePalmbus = 0, kRouteI2cDev = 1 };

struct Target {
    Node node = Node::GpioRoot;
    int pin = -1;    // GPIO number
    int attr = -1;   // GpioAttrKind
    int mcu = -1;    // index into the MCU file table
    int route = -1;  // McuRoute
    int led = -1;    // port LED number
};

// True when PATH (absolute) belongs to the simulated board; T says what it is.
// Paths under the board's prefixes that name nothing still belong to it (and
// do not exist), so the host's own files there are never touched.
[[nodiscard]] bool classify(const char *path, Target *t);
// 0 when the node exists now, else the errno an open would fail with.
[[nodiscard]] int node_missing(const Target &t);
[[nodiscard]] bool node_is_dir(const Target &t);
// EIO when a fault makes reads (WRITE false) or writes (WRITE true) of T fail.
[[nodiscard]] int node_io_fault(const Target &t, bool write);

// What a read at offset 0 returns: the length, or -errno.
ssize_t node_show(const Target &t, char *buf, size_t size);
// One write call: LEN on success, or -errno. Journals it.
ssize_t node_store(const Target &t, const char *data, size_t len);
// Journals a read that returned DATA/LEN (or failed with ERR).
void node_journal_read(const Target &t, const char *data, size_t len, int err);

// True when DIR/faults holds the line "KIND TARGET".
[[nodiscard]] bool fault_active(const char *kind, const char *target);

}  // namespace boardsim
