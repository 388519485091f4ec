#!/usr/bin/env bash
# footprint.sh [--speed N]
#
# Footprint of the mipsel build (build-mipsel/, made by scripts/test-mipsel.sh
# or here when missing): the stripped size and the NEEDED libraries of every
# binary that ships, then the daemon's resident memory after one virtual
# minute on the simulated board under qemu-mipsel.
#
# Budget, checked (exit 1 when broken): the stripped daemon at most 64 KiB;
# the daemon needs no libraries but libc, libpthread, libubox, libubus and the
# store library (libdevmgr).
#
# --speed N runs the board N times faster than real time (default 10: the
# virtual minute takes 6 s).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${POWERBANK_MIPSEL_BUILD:-$root/build-mipsel}
sysroot=/usr/mipsel-linux-gnu
speed=10
if [ "${1:-}" = --speed ]; then
    speed=$2
fi
budget_bytes=$((64 * 1024))
allowed=(libc.so libpthread.so libubox.so libubus.so libdevmgr.so)

if [ ! -x "$build/src/powerbank" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mipsel.cmake" \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"${POWERBANK_JOBS:-2}" >/dev/null

find_built() { # NAME: the first regular file of that name in the build tree
    find "$build" -path "$build/CMakeFiles" -prune -o -name "$1" -type f -print | head -n 1
}

tmp=$(mktemp -d)
daemon_pid=
bus_pid=
idle_pid=
cleanup() {
    for pid in $daemon_pid $bus_pid $idle_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT

status=0

# --- sizes and libraries --------------------------------------------------
echo "=== stripped sizes (mipsel-linux-gnu-strip of a copy) and NEEDED libraries"
printf '%-16s %10s  %s\n' binary bytes NEEDED
for name in powerbank libdevmgr.so.1 devmgr; do
    path=$(find_built "$name")
    if [ -z "$path" ]; then
        printf '%-16s %10s\n' "$name" "not built"
        continue
    fi
    cp "$path" "$tmp/$name"
    mipsel-linux-gnu-strip "$tmp/$name"
    size=$(stat -c %s "$tmp/$name")
    needed=$(readelf -d "$path" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ')
    printf '%-16s %10d  %s\n' "$name" "$size" "$needed"
    if [ "$name" = powerbank ]; then
        daemon_size=$size
    fi
done

echo "=== budget"
if [ "${daemon_size:-0}" -gt "$budget_bytes" ]; then
    echo "FAIL: the stripped daemon is $daemon_size bytes, over the budget of $budget_bytes (64 KiB)"
    status=1
else
    echo "ok: the stripped daemon is ${daemon_size:-?} bytes, within $budget_bytes (64 KiB)"
fi
if "$root/scripts/check-needed.sh" "$build/src/powerbank" "${allowed[@]}"; then
    echo "ok: the daemon needs only ${allowed[*]}"
else
    echo "FAIL: the daemon needs a library outside ${allowed[*]}"
    status=1
fi

# --- resident memory on the simulated board --------------------------------
echo "=== resident memory after one virtual minute on the simulated board (speed $speed)"
boardsim=$(find_built boardsim)
preload=$(find_built libboardsim.so)
if [ -z "$boardsim" ] || [ -z "$preload" ]; then
    echo "skipped: the simulated board is not built in $build"
    exit $status
fi
emulator="qemu-mipsel -L $sysroot"
export BOARDSIM_EMULATOR="$emulator"
export BOARDSIM_PRELOAD="$preload"
export QEMU_LD_PREFIX=$sysroot
board=$tmp/board
$emulator "$boardsim" init "$board" >/dev/null

ubusd=$(find_built ubusd-sim)
if [ -n "$ubusd" ]; then
    $emulator "$ubusd" -s "$board/run/ubus.sock" >"$tmp/bus.log" 2>&1 &
    bus_pid=$!
fi

# boardsim execs the emulator, so this pid is the qemu process that runs
# the daemon.
$emulator "$boardsim" run "$board" --speed "$speed" -- "$build/src/powerbank" \
    >"$tmp/daemon.out" 2>"$tmp/daemon.err" &
daemon_pid=$!

# A do-nothing mipsel program under the same qemu: what the emulator itself
# costs, to tell the daemon's share from qemu's.
printf '#include <unistd.h>\nint main(void) { for (;;) pause(); }\n' >"$tmp/idle.c"
mipsel-linux-gnu-gcc -O2 -o "$tmp/idle" "$tmp/idle.c"
$emulator "$tmp/idle" &
idle_pid=$!

sleep "$(awk -v s="$speed" 'BEGIN { printf "%.3f", 60 / s }')"
if ! kill -0 "$daemon_pid" 2>/dev/null; then
    echo "FAIL: the daemon exited within the minute; its standard error:"
    tail -n 20 "$tmp/daemon.err"
    exit 1
fi
rss() { sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$1/status"; }
hwm() { sed -n 's/^VmHWM:[[:space:]]*//p' "/proc/$1/status"; }
echo "qemu-mipsel running the daemon:  VmRSS $(rss $daemon_pid)  (peak VmHWM $(hwm $daemon_pid))"
echo "qemu-mipsel running an idle loop: VmRSS $(rss $idle_pid)"
echo "These are the host's view of the qemu process (/proc/PID/status): emulator code,"
echo "translation cache and the guest's memory together; the difference of the two lines is"
echo "close to what the daemon itself keeps resident. On the device, read VmRSS of powerbank."
passes=$(grep -c 'gpio25/value read' "$board/journal" 2>/dev/null || true)
echo "passes of the control loop in that minute (GPIO 25 samples): ${passes:-0}"
echo "the daemon's first line: $(head -n 1 "$tmp/daemon.out")"
if [ -n "$bus_pid" ]; then
    echo "failed bus connections: $(grep -c 'Failed to connect to ubus' "$tmp/daemon.err" || true)"
fi
exit $status
