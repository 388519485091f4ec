#!/usr/bin/env bash
# Builds everything and runs every test; ends with ctest's summary.
#   scripts/test.sh                      plain build in build/
#   scripts/test.sh --sanitize LIST      e.g. address,undefined or thread, in build-<LIST>/
#   scripts/test.sh --under-load[=N]     runs ctest beside N busy loops per core (default 1),
#                                        started after the build and stopped with ctest
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
    echo "usage: scripts/test.sh [--sanitize address,undefined|thread] [--under-load[=N]]" >&2
    exit 2
}

sanitize="" load=0
while [ $# -gt 0 ]; do
    case "$1" in
    --sanitize) [ $# -ge 2 ] || usage; sanitize="$2"; shift 2 ;;
    --under-load) load=1; shift ;;
    --under-load=*) load=${1#*=}; shift ;;
    *) usage ;;
    esac
done
[[ $load =~ ^[0-9]+$ ]] || usage

scripts/deps.sh cmake make gcc g++ libgtest-dev libgmock-dev binutils procps libxml2-utils

build=build
[ -n "$sanitize" ] && build="build-${sanitize//,/-}"
jobs=$(nproc)

cmake -S . -B "$build" -DPOWERBANK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$jobs"

# Busy loops compete with the suite for every core, so a test that depends on
# an idle machine fails here rather than on a busy CI runner.
loops=()
stop_loops() {
    for pid in "${loops[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
}
trap stop_loops EXIT
for ((i = 0; i < load * jobs; i++)); do
    (while :; do :; done) &
    loops+=($!)
done
[ ${#loops[@]} -eq 0 ] || echo "test.sh: ${#loops[@]} busy loops beside the suite" >&2

cd "$build"
ctest -j"$jobs" --output-on-failure --timeout 600
