#!/usr/bin/env bash
# Run the powerbank daemon on a simulated board and watch what it does.
#
#   scripts/run-sim.sh [--speed N] [--config KEY=VALUE]... [--board DIR] [--keep]
#                      [--journal] [--show-output] [--build-dir DIR]
#
# Builds what it needs into build/ (configuring it when missing), creates a
# default board, starts the bus stand-in on the board's bus socket when it was
# built, runs the daemon on the board and shows the board as it goes
# (`boardsim DIR watch`): on a terminal a panel redrawn in place, otherwise one
# logfmt line per change. Its own lines go to standard error, so standard
# output is the board's view alone (run-sim.sh > log.txt is a change log).
# Ctrl-C stops everything.
#
#   --speed N          virtual time runs N times faster (default 1)
#   --config KEY=VALUE set a store key before the daemon starts (repeatable,
#                      journalled as an input); the three outputs start in
#                      automatic mode (2) unless set
#   --board DIR        create the board in DIR, or use the board already there,
#                      and keep it afterwards
#   --keep             keep the temporary board directory afterwards
#   --journal          say how to follow the raw journal lines (a file of the board)
#   --show-output      also print the daemon's standard output and error, on
#                      standard error (the view then prints lines)
#   --build-dir DIR    build there instead of build/ (also: env POWERBANK_BUILD_DIR)
#   --no-build         run what the build directory holds, without building
#
# At start it prints, ready to paste into another shell, the commands that
# reach the running board: boardsim, devmgr (store), ubus-sim (bus) and the
# device's companion powerbankctl. As procd does on the device, the daemon is
# started again whenever it exits (`powerbankctl set --apply` stops it
# through the board's restart command), and the companion's recorder writes
# the change log beside it.
set -euo pipefail

speed=1
keep=0
build_dir=${POWERBANK_BUILD_DIR:-}
show_output=0
show_journal=0
no_build=0
board=""
configs=()
needs() { [ "$2" -ge 2 ] || { echo "run-sim: $1 needs a value" >&2; exit 2; }; }
while [ $# -gt 0 ]; do
    case "$1" in
        --speed) needs "$1" $#; speed=$2; shift 2 ;;
        --speed=*) speed=${1#--speed=}; shift ;;
        --config) needs "$1" $#; configs+=("$2"); shift 2 ;;
        --config=*) configs+=("${1#--config=}"); shift ;;
        --board) needs "$1" $#; board=$2; shift 2 ;;
        --board=*) board=${1#--board=}; shift ;;
        --keep) keep=1; shift ;;
        --journal) show_journal=1; shift ;;
        --show-output) show_output=1; shift ;;
        --no-build) no_build=1; shift ;;
        --build-dir) needs "$1" $#; build_dir=$2; shift 2 ;;
        -h|--help) sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-sim: unknown argument: $1" >&2; exit 2 ;;
    esac
done
if ! [[ $speed =~ ^[0-9]+([.][0-9]+)?$ ]] || [[ $speed =~ ^0+([.]0*)?$ ]]; then
    echo "run-sim: --speed takes a positive number" >&2
    exit 2
fi
for kv in "${configs[@]}"; do
    # Store keys: 1 to 64 of A-Z a-z 0-9 _ . -, not starting with a dot.
    if ! [[ $kv =~ ^[A-Za-z0-9_-][A-Za-z0-9_.-]{0,63}= ]]; then
        echo "run-sim: --config takes KEY=VALUE with a store key, not: $kv" >&2
        exit 2
    fi
done

# A new board only in a new or empty directory: init replaces its model folders.
if [ -n "$board" ] && [ -e "$board" ] && [ ! -f "$board/clock" ] &&
    [ -n "$(ls -A "$board" 2>/dev/null)" ]; then
    echo "run-sim: $board is neither a board nor empty; give a new directory" >&2
    exit 2
fi

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${build_dir:-$repo/build}

if [ "$no_build" -eq 0 ]; then
    # --- packages (a fresh Debian 12 has none of these) ---------------------------------
    "$repo/scripts/deps.sh" cmake make gcc g++ libgtest-dev libgmock-dev

    # --- build ------------------------------------------------------------------------------
    # Quiet unless it fails: the board's view is what a run is for.
    echo "run-sim: building in $build" >&2
    build_log=$(mktemp)
    quietly() {
        if ! "$@" >"$build_log" 2>&1; then
            cat "$build_log" >&2
            rm -f "$build_log"
            echo "run-sim: the build failed" >&2
            exit 1
        fi
    }
    if [ ! -f "$build/CMakeCache.txt" ]; then
        quietly cmake -S "$repo" -B "$build"
    fi
    targets=(powerbank boardsim boardsim_preload devmgr-tool powerbankctl)
    have_bus=0
    # (grep -q would end the pipe early, and pipefail would count that as no bus.)
    if cmake --build "$build" --target help 2>/dev/null | grep 'ubusd-sim' >/dev/null; then
        targets+=(ubusd-sim ubus-sim)
        have_bus=1
    fi
    quietly cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
    rm -f "$build_log"
else
    have_bus=0
    [ -x "$build/platform/ubus/ubusd-sim" ] && have_bus=1
fi

tool=$build/platform/boardsim/boardsim
daemon=$build/src/powerbank
ubusd=$build/platform/ubus/ubusd-sim
ubus=$build/platform/ubus/ubus-sim
devmgr=$build/platform/devmgr/devmgr
ctl=$build/powerbankctl/powerbankctl

# --- board ------------------------------------------------------------------------------
if [ -n "$board" ]; then
    keep=1
    mkdir -p "$board"
    board=$(cd "$board" && pwd)
    [ -f "$board/clock" ] || "$tool" init "$board"
else
    board=$(mktemp -d /tmp/pbsim.XXXXXX)
    "$tool" init "$board"
fi
# The daemon's sockets live in the board; a socket path holds 107 bytes.
if [ $((${#board} + 27)) -gt 107 ]; then
    echo "run-sim: $board is too deep for the board's socket paths; use a shorter one" >&2
    exit 2
fi
mkdir -p "$board/logs" "$board/config"

# Outputs in automatic mode unless the board already has a mode, then --config.
for key in DBID_POE1_ENABLE DBID_POE2_ENABLE DBID_UPS_ENABLE; do
    [ -e "$board/config/$key" ] || printf '2' >"$board/config/$key"
done
for kv in "${configs[@]}"; do
    "$tool" "$board" config "${kv%%=*}" "${kv#*=}"
done

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
    # The daemon the respawn loop started last.
    kill -TERM "$(cat "$board/run/powerbank.pid" 2>/dev/null)" 2>/dev/null || true
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

# The device's paths of the companion, on the board.
export POWERBANK_SOCKET=$board/run/ubus.sock POWERBANK_LOG=$board/logs/powerbank.log
export POWERBANK_RESTART=$board/powerbank-restart
export DEVMGR_CONFIG_DIR=$board/config DEVMGR_STATUS_DIR=$board/status
# What /etc/init.d/powerbank restart does on the device: the daemon stops and
# procd (here the loop below) starts it again.
printf '#!/bin/sh\n# Stands in for /etc/init.d/powerbank restart on the board %s.\nkill "$(cat %s/run/powerbank.pid)"\n' \
    "$board" "$board" >"$POWERBANK_RESTART"
chmod +x "$POWERBANK_RESTART"

settings=""
for f in "$board"/config/*; do
    [ -f "$f" ] && settings+=" ${f##*/}=$(cat "$f")"
done
{
    echo "run-sim: board $board at speed $speed; daemon output in $board/logs/daemon.{out,err}"
    echo "run-sim: store settings:$settings"
    echo "run-sim:   (output mode 2 is automatic: on while DC is there or a port holds a bank of 60 W or more)"
    echo "run-sim: reach the running board from another shell (paste as is):"
    echo "  $tool $board bank 1 20 3.25"
    echo "  export DEVMGR_CONFIG_DIR=$board/config DEVMGR_STATUS_DIR=$board/status"
    echo "  $devmgr status powerbank_state_1"
    if [ "$have_bus" -eq 1 ]; then
        echo "  $ubus -s $board/run/ubus.sock listen SendStatFile"
    fi
    echo "run-sim: the device's companion on this board (the export first):"
    echo "  export POWERBANK_SOCKET=$POWERBANK_SOCKET POWERBANK_LOG=$POWERBANK_LOG POWERBANK_RESTART=$POWERBANK_RESTART"
    echo "  $ctl status"
    echo "  $ctl status --json"
    echo "  $ctl set poe1=on --apply"
    echo "  $ctl log -f"
    echo "  $ctl timeline -o run.svg"
    echo "run-sim: other board verbs: dc 0, dc 1, bank 1 none, oc 0x02, show, timeline -o run.svg"
    if [ "$show_journal" -eq 1 ]; then
        echo "run-sim: raw journal lines: tail -f $board/journal"
    fi
    echo "run-sim: Ctrl-C stops everything"
} >&2

# The daemon as procd keeps it: started again half a second after it exits.
(
    while :; do
        "$tool" run "$board" --speed "$speed" -- "$daemon" \
            >>"$board/logs/daemon.out" 2>>"$board/logs/daemon.err" &
        echo $! >"$board/run/powerbank.pid"
        wait $! && status=0 || status=$?
        echo "run-sim: the daemon exited with status $status; starting it again" >&2
        sleep 0.5
    done
) &
pids+=($!)
daemon_loop=$!
# The change log's recorder, as its own init script starts it on the device.
"$ctl" record >"$board/logs/recorder.out" 2>"$board/logs/recorder.err" &
pids+=($!)

# The panel's last lines say where what it does not show is.
note="daemon output: $board/logs/daemon.*  (--show-output)"
if [ "$show_output" -eq 1 ]; then
    note=""
fi
if [ "$show_journal" -eq 1 ]; then
    note+="${note:+$'\n'}raw journal: tail -f $board/journal"
fi
view=("$tool" "$board" watch --note "$note")
if [ "$show_output" -eq 1 ]; then
    view+=(--lines)
    tail -q -n +1 -F "$board/logs/daemon.out" "$board/logs/daemon.err" 2>/dev/null \
        > >(sed -u 's/^/daemon   /' >&2) &
    pids+=($!)
fi
"${view[@]}" &
pids+=($!)

wait "$daemon_loop"
