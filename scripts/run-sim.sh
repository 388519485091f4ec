#!/usr/bin/env bash
# Run the powerbank daemon on a simulated board and watch what it does.
#
#   scripts/run-sim.sh [--speed N] [--keep] [--show-output]
#
# Builds what it needs into build/ (configuring it when missing), creates a
# default board in a temporary directory, starts the bus stand-in on the
# board's bus socket when it was built, and runs the daemon on the board.
# Every effect on the board (journal) and every status value the daemon
# publishes is printed as it happens, until Ctrl-C, which stops everything.
#
#   --speed N       virtual time runs N times faster (default 1)
#   --keep          keep the board directory afterwards
#   --show-output   also print the daemon's standard output and error
#   --build-dir DIR build there instead of build/ (also: env POWERBANK_BUILD_DIR)
#
# While it runs, change the board from another terminal with the command it
# prints, e.g. `boardsim BOARD dc 0` or `boardsim BOARD bank 1 20 3`.
set -euo pipefail

speed=1
keep=0
build_dir=${POWERBANK_BUILD_DIR:-}
show_output=0
while [ $# -gt 0 ]; do
    case "$1" in
        --speed)
            [ $# -ge 2 ] || { echo "run-sim: --speed needs a number" >&2; exit 2; }
            speed=$2
            shift 2
            ;;
        --speed=*) speed=${1#--speed=}; shift ;;
        --keep) keep=1; shift ;;
        --show-output) show_output=1; shift ;;
        --build-dir)
            [ $# -ge 2 ] || { echo "run-sim: --build-dir needs a directory" >&2; exit 2; }
            build_dir=$2
            shift 2
            ;;
        -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-sim: unknown argument: $1" >&2; exit 2 ;;
    esac
done
if ! [[ $speed =~ ^[0-9]+([.][0-9]+)?$ ]] || [[ $speed =~ ^0+([.]0*)?$ ]]; then
    echo "run-sim: --speed takes a positive number" >&2
    exit 2
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${build_dir:-$repo/build}

# --- packages (a fresh Debian 12 has none of these) ---------------------------------
"$repo/scripts/deps.sh" cmake make gcc g++ libgtest-dev libgmock-dev

# --- build ------------------------------------------------------------------------------
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build"
fi
targets=(powerbank boardsim boardsim_preload)
have_bus=0
if cmake --build "$build" --target help 2>/dev/null | grep -q 'ubusd-sim'; then
    targets+=(ubusd-sim)
    have_bus=1
fi
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

tool=$build/platform/boardsim/boardsim
daemon=$build/src/powerbank
ubusd=$build/platform/ubus/ubusd-sim

# --- board ------------------------------------------------------------------------------
board=$(mktemp -d /tmp/pbsim.XXXXXX)
mkdir -p "$board/logs"
"$tool" init "$board"

pids=()
cleanup() {
    trap - INT TERM EXIT
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [ "$keep" -eq 1 ]; then
        echo "run-sim: board kept at $board" >&2
    else
        rm -rf "$board"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

if [ "$have_bus" -eq 1 ]; then
    "$ubusd" -s "$board/run/ubus.sock" >"$board/logs/ubusd.out" 2>"$board/logs/ubusd.err" &
    pids+=($!)
fi

echo "run-sim: board $board, speed $speed"
echo "run-sim: change it with: $tool $board dc 0|1 | bank 1 20 3 | cc 1 0.4 2.5 | oc 1 | show"
echo "run-sim: daemon output in $board/logs/daemon.{out,err}; Ctrl-C stops"

"$tool" run "$board" --speed "$speed" -- "$daemon" \
    >"$board/logs/daemon.out" 2>"$board/logs/daemon.err" &
pids+=($!)
daemon_pid=$!

# ($! is tail itself, so stopping it ends the sed behind it too.)
tail -n +1 -F "$board/journal" 2>/dev/null > >(sed -u 's/^/journal  /') &
pids+=($!)
if [ "$show_output" -eq 1 ]; then
    tail -n +1 -F "$board/logs/daemon.out" "$board/logs/daemon.err" 2>/dev/null \
        > >(sed -u 's/^/daemon   /') &
    pids+=($!)
fi

# Status values: print each one when it changes.
declare -A seen=()
while kill -0 "$daemon_pid" 2>/dev/null; do
    for f in "$board"/status/*; do
        [ -f "$f" ] || continue
        key=${f##*/}
        case $key in .*) continue ;; esac
        value=$(cat "$f" 2>/dev/null || true)
        if [ "${seen[$key]-<unset>}" != "$value" ]; then
            seen[$key]=$value
            echo "status   $key=$value"
        fi
    done
    sleep 0.2
done
wait "$daemon_pid" && status=0 || status=$?
echo "run-sim: the daemon exited with status $status" >&2
exit "$status"
