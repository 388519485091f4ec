#!/usr/bin/env bash
# bench-companion.sh
#
# The companion's budgets on the host, measured and printed (build/, as
# scripts/test.sh makes it; built here when missing), against the real daemon
# on a simulated board with the bus stand-in:
#  - `powerbankctl status` takes under 10 ms: 200 runs, their wall times and
#    the processor time of one (the budget is checked on the latter, which the
#    machine's load does not inflate);
#  - the recorder makes no system call over a quiet minute: strace follows it
#    for 60 s while the daemon runs (at speed 10, so ten virtual minutes of
#    passes that republish unchanged values) and nothing on the board changes.
# Exits 1 when a budget is broken.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${POWERBANK_BUILD_DIR:-$root/build}
"$root/scripts/deps.sh" strace
if [ ! -x "$build/powerbankctl/powerbankctl" ] || [ ! -x "$build/platform/ubus/ubusd-sim" ]; then
    cmake -S "$root" -B "$build" >/dev/null
    cmake --build "$build" -j"${POWERBANK_JOBS:-2}" >/dev/null
fi
tool=$build/platform/boardsim/boardsim
ctl=$build/powerbankctl/powerbankctl

board=$(mktemp -d /tmp/pbbench.XXXXXX)
pids=()
cleanup() {
    kill "${pids[@]}" 2>/dev/null || true
    wait 2>/dev/null || true
    rm -rf "$board"
}
trap cleanup EXIT
status=0
"$tool" init "$board" >/dev/null
mkdir -p "$board/logs"
for key in DBID_POE1_ENABLE DBID_POE2_ENABLE DBID_UPS_ENABLE; do
    printf 2 >"$board/config/$key"
done
export DEVMGR_CONFIG_DIR=$board/config DEVMGR_STATUS_DIR=$board/status
export POWERBANK_SOCKET=$board/run/ubus.sock POWERBANK_LOG=$board/logs/powerbank.log
"$build/platform/ubus/ubusd-sim" -s "$POWERBANK_SOCKET" 2>"$board/logs/ubusd.err" &
pids+=($!)
"$tool" run "$board" --speed 10 -- "$build/src/powerbank" >"$board/logs/daemon.out" 2>&1 &
pids+=($!)
"$ctl" record 2>"$board/logs/recorder.err" &
recorder=$!
pids+=($recorder)

# Settled once the start's two display updates (the first pass's, and the
# one after the CC watch's first look) are in the log.
for _ in $(seq 300); do
    [ "$(cat "$POWERBANK_LOG" 2>/dev/null | grep -c batterychange)" -ge 2 ] && break
    sleep 0.1
done
sleep 2

# The wall time of each run is what an operator waits, the machine's load
# included; the processor time (user and system, of all the runs together,
# as the kernel counts it for children) is what status itself costs, load or
# not, and is what the budget is checked against.
echo "=== powerbankctl status, 200 runs"
# (times runs in this shell, not a subshell: a subshell counts no children.)
cpu_ms() { # FILE: processor time of the finished children in `times` output
    tail -n 1 "$1" | awk '{ for (i = 1; i <= 2; i++) { split($i, t, /[ms]/); ms += (t[1] * 60 + t[2]) * 1000 } print ms }'
}
times >"$board/cpu.before"
for _ in $(seq 200); do
    start=$EPOCHREALTIME
    "$ctl" status >/dev/null
    echo "$start $EPOCHREALTIME"
done >"$board/times"
times >"$board/cpu.after"
cpu_per_run=$(awk -v a="$(cpu_ms "$board/cpu.before")" -v b="$(cpu_ms "$board/cpu.after")" \
    'BEGIN { printf "%.2f", (b - a) / 200 }')
awk '{ print ($2 - $1) * 1000 }' "$board/times" | sort -n | awk '
    { t[NR] = $1 }
    END { printf "wall time (ms): median %.2f, 90th percentile %.2f, slowest %.2f\n",
                 t[int(NR / 2)], t[int(NR * 0.9)], t[NR] }'
echo "processor time per run (ms): $cpu_per_run"
if ! awk -v c="$cpu_per_run" 'BEGIN { exit !(c < 10) }'; then
    echo "FAIL: status costs 10 ms or more"
    status=1
fi

echo "=== the recorder over a quiet minute (strace -p $recorder for 60 s)"
lines_before=$(wc -l <"$POWERBANK_LOG")
timeout -s INT 60 strace -p "$recorder" -o "$board/strace.out" 2>/dev/null || true
# The call it was waiting in when strace came and went is not a call it made.
calls=$(grep -cv 'resumed>\|<unfinished \.\.\.>\|<detached \.\.\.>' "$board/strace.out" || true)
echo "system calls: $calls; log lines written meanwhile: $(($(wc -l <"$POWERBANK_LOG") - lines_before))"
if [ "$calls" -ne 0 ]; then
    echo "FAIL: the recorder woke up while nothing changed:"
    head -n 20 "$board/strace.out"
    status=1
fi
exit $status
