#!/usr/bin/env bash
# footprint.sh [--speed N]
#
# What the device binaries cost, for 32-bit little-endian MIPS with glibc
# (build-mipsel/, made by scripts/test-mipsel.sh) beside musl, the device's C
# library (build-musl/, made by scripts/test-musl.sh); either is built here
# when missing. For both: the stripped size and the NEEDED libraries of every
# binary that ships; then the daemon for one virtual minute on the simulated
# board under qemu-mipsel, with the bus stand-in: its resident memory, and for
# each thread the stack it reserves and how deep it has touched it
# (scripts/guest-memory.py reads the guest's present pages).
#
# Budget, checked (exit 1 when broken):
#  - glibc: the stripped daemon at most 64 KiB; NEEDED only libc, libpthread,
#    libubox, libubus and the store library (libdevmgr);
#  - musl: the stripped daemon at most 40 KiB; loader /lib/ld-musl-mipsel.so.1;
#    NEEDED only libc.so, libubox.so, libubus.so and libdevmgr.so.1 (so no
#    libstdc++ and no libgcc_s); no glibc symbol versions.
#
# --speed N runs the board N times faster than real time (default 10: each
# virtual minute takes 6 s).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
glibc_build=${POWERBANK_MIPSEL_BUILD:-$root/build-mipsel}
musl_build=${POWERBANK_MUSL_BUILD:-$root/build-musl}
speed=10
if [ "${1:-}" = --speed ]; then
    speed=$2
fi
"$root/scripts/deps.sh" python3 procps

configure() { # BUILD TOOLCHAIN [ARGS...]
    local build=$1 toolchain=$2
    shift 2
    if [ ! -x "$build/src/powerbank" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" "$@" >/dev/null
    fi
    cmake --build "$build" -j"${POWERBANK_JOBS:-2}" >/dev/null
}
configure "$glibc_build" toolchain-mipsel.cmake
configure "$musl_build" toolchain-mipsel-musl.cmake -DPOWERBANK_UBUS=SIM

tmp=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$tmp"
}
trap cleanup EXIT
status=0
fail() {
    echo "FAIL: $*"
    status=1
}

stripped() { # FILE: bytes once stripped
    cp "$1" "$tmp/stripped"
    mipsel-linux-gnu-strip "$tmp/stripped"
    stat -c %s "$tmp/stripped"
}
needed() { # FILE
    readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' '
}

# --- sizes and libraries --------------------------------------------------
echo "=== stripped sizes in bytes (mipsel-linux-gnu-strip of a copy) and NEEDED libraries"
printf '%-15s %8s %8s  %-44s %s\n' binary glibc musl "NEEDED (glibc)" "NEEDED (musl)"
for path in src/powerbank platform/devmgr/libdevmgr.so.1 platform/devmgr/devmgr; do
    printf '%-15s %8d %8d  %-44s %s\n' "${path##*/}" "$(stripped "$glibc_build/$path")" \
        "$(stripped "$musl_build/$path")" "$(needed "$glibc_build/$path")" \
        "$(needed "$musl_build/$path")"
done

echo "=== budget"
glibc_daemon=$glibc_build/src/powerbank
musl_daemon=$musl_build/src/powerbank
size=$(stripped "$glibc_daemon")
[ "$size" -le $((64 * 1024)) ] || fail "glibc: the stripped daemon is $size bytes, over 64 KiB"
"$root/scripts/check-needed.sh" "$glibc_daemon" libc.so libpthread.so libubox.so libubus.so \
    libdevmgr.so || fail "glibc: the daemon needs a library the device does not have"
size=$(stripped "$musl_daemon")
[ "$size" -le $((40 * 1024)) ] || fail "musl: the stripped daemon is $size bytes, over 40 KiB"
"$root/scripts/check-musl-elf.sh" "$musl_daemon" >/dev/null ||
    fail "musl: the daemon is not built as the device takes it"
[ $status = 0 ] && echo "ok: glibc daemon within 64 KiB, musl daemon $size bytes within 40 KiB" \
    "(40960), libraries as on the device"

# --- one virtual minute on the simulated board ---------------------------
# boardsim execs the emulator, so the pid of `boardsim run` is the qemu
# process that runs the daemon; -strace and -d page write to its log what
# scripts/guest-memory.py needs (the thread stacks and the guest's place in
# the host's address space).
run_minute() { # LABEL BUILD EMULATOR...
    local label=$1 build=$2
    shift 2
    local emulator="$*" board=$tmp/board-$label
    $emulator "$build/platform/boardsim/boardsim" init "$board" >/dev/null
    $emulator "$build/platform/ubus/ubusd-sim" -s "$board/run/ubus.sock" >"$tmp/bus-$label" 2>&1 &
    local bus=$!
    pids+=($bus)
    BOARDSIM_EMULATOR="$emulator -strace -d page -D $tmp/qemu-$label.log" \
        BOARDSIM_PRELOAD="$build/platform/boardsim/libboardsim.so" \
        $emulator "$build/platform/boardsim/boardsim" run "$board" --speed "$speed" -- \
        "$build/src/powerbank" >"$tmp/out-$label" 2>"$tmp/err-$label" &
    local daemon=$!
    pids+=($daemon)
    sleep "$(awk -v s="$speed" 'BEGIN { printf "%.3f", 60 / s }')"
    echo "--- $label"
    if ! kill -0 "$daemon" 2>/dev/null; then
        fail "$label: the daemon exited within the minute; its standard error:"
        tail -n 20 "$tmp/err-$label"
        return
    fi
    python3 "$root/scripts/guest-memory.py" "$daemon" "$tmp/qemu-$label.log" "LED thread" \
        "broker thread"
    echo "main thread: the process stack (ulimit -s here: $(ulimit -s) KiB; grows as touched)"
    echo "qemu process as the host sees it: VmRSS" \
        "$(sed -n 's/^VmRSS:[[:space:]]*//p' "/proc/$daemon/status")"
    echo "passes of the control loop (GPIO 25 samples): $(grep -c 'gpio25/value read' \
        "$board/journal" || true); failed bus connections: $(grep -c 'Failed to connect' \
        "$tmp/err-$label" || true)"
    kill "$daemon" "$bus"
}

echo "=== one virtual minute on the simulated board under qemu-mipsel (speed $speed)"
echo "guest resident memory: the daemon's own view (code, libraries, heap, stacks), the board"
echo "library that simulates the kernel included; touched stack: the deepest present page."
run_minute glibc "$glibc_build" qemu-mipsel -L /usr/mipsel-linux-gnu
run_minute musl "$musl_build" qemu-mipsel
exit $status
