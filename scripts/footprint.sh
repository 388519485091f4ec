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
# (scripts/guest-memory.py reads the guest's present pages); on musl the
# companion's recorder runs beside it, and its resident memory is measured the
# same way. Last, scripts/bench-companion.sh measures the companion on the host.
#
# Budget, checked (exit 1 when broken):
#  - glibc: the stripped daemon at most 64 KiB; NEEDED only libc, libpthread,
#    libubox, libubus and the store library (libdevmgr);
#  - musl: the stripped daemon at most 32 KiB; loader /lib/ld-musl-mipsel.so.1;
#    NEEDED only libc.so, libubox.so, libubus.so and libdevmgr.so.1 (so no
#    libstdc++ and no libgcc_s); no glibc symbol versions;
#  - the companion powerbankctl: on musl at most 48 KiB stripped, its ELF as
#    the daemon's (glibc: libm beside them, part of libc on musl); its recorder
#    at most 1 MiB resident on musl under qemu.
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
for path in src/powerbank powerbankctl/powerbankctl platform/devmgr/libdevmgr.so.1 \
    platform/devmgr/devmgr; do
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
[ "$size" -le $((32 * 1024)) ] || fail "musl: the stripped daemon is $size bytes, over 32 KiB"
"$root/scripts/check-musl-elf.sh" "$musl_daemon" >/dev/null ||
    fail "musl: the daemon is not built as the device takes it"
[ $status = 0 ] && echo "ok: glibc daemon within 64 KiB, musl daemon $size bytes within 32 KiB" \
    "(32768), libraries as on the device"
glibc_ctl=$glibc_build/powerbankctl/powerbankctl
musl_ctl=$musl_build/powerbankctl/powerbankctl
"$root/scripts/check-needed.sh" "$glibc_ctl" libc.so libm.so libubox.so libubus.so libdevmgr.so ||
    fail "glibc: the companion needs a library the device does not have"
"$root/scripts/check-musl-elf.sh" "$musl_ctl" >/dev/null ||
    fail "musl: the companion is not built as the device takes it"
ctl_size=$(stripped "$musl_ctl")
if [ "$ctl_size" -le $((48 * 1024)) ]; then
    echo "ok: musl companion $ctl_size bytes within 48 KiB (49152)"
else
    fail "musl: the stripped companion is $ctl_size bytes, over 48 KiB"
fi

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
    local recorder=""
    if [ "$label" = musl ]; then
        # The companion's recorder, as on the device: beside the daemon, on
        # its bus and store; not on the board (it touches no hardware).
        DEVMGR_CONFIG_DIR=$board/config DEVMGR_STATUS_DIR=$board/status \
            $emulator -strace -d page -D "$tmp/qemu-recorder.log" "$musl_ctl" \
            -s "$board/run/ubus.sock" -l "$tmp/powerbank.log" record >"$tmp/recorder.err" 2>&1 &
        recorder=$!
        pids+=($recorder)
    fi
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
    if [ -n "$recorder" ]; then
        echo "--- $label companion recorder (its log: $(wc -l <"$tmp/powerbank.log") lines)"
        if ! kill -0 "$recorder" 2>/dev/null; then
            fail "$label: the recorder exited; its output:"
            tail -n 20 "$tmp/recorder.err"
        else
            local memory
            memory=$(python3 "$root/scripts/guest-memory.py" "$recorder" "$tmp/qemu-recorder.log")
            echo "$memory"
            local kib
            kib=$(printf '%s\n' "$memory" | sed -n 's/^guest resident memory: \([0-9]*\) KiB.*/\1/p')
            if [ -n "$kib" ] && [ "$kib" -le 1024 ]; then
                echo "ok: the recorder keeps $kib KiB resident, within 1 MiB"
            else
                fail "$label: the recorder keeps ${kib:-?} KiB resident, over 1 MiB"
            fi
            kill "$recorder"
        fi
    fi
    kill "$daemon" "$bus"
}

echo "=== one virtual minute on the simulated board under qemu-mipsel (speed $speed)"
echo "guest resident memory: the daemon's own view (code, libraries, heap, stacks), the board"
echo "library that simulates the kernel included; touched stack: the deepest present page."
run_minute glibc "$glibc_build" qemu-mipsel -L /usr/mipsel-linux-gnu
run_minute musl "$musl_build" qemu-mipsel

echo "=== the companion on the host"
"$root/scripts/bench-companion.sh" || fail "the companion's host budgets"
exit $status
