// One daemon at a time. Two daemons would drive the same outputs and store
// keys, and the second would take the local socket and the bus object's name
// from the first for good; procd never starts two, but a person may start
// one by hand beside it.
#pragma once

// The lock file: a record lock on it is held for the life of the process, so
// the kernel drops it when the holder dies and a crash never blocks the next
// start.
inline constexpr const char *kPowerbankLockPath = "/var/run/powerbank.lock";

// Takes the lock, before the daemon touches any hardware file, the socket or
// the bus. True when this process holds it now, and also when it cannot be
// had for another reason than another holder (no /var/run, a read-only file
// system): the daemon then starts as it would without the lock. False when
// another process holds it; one line on standard error has then named it.
[[nodiscard]] bool powerbank_take_instance_lock();
