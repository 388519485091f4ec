#!/usr/bin/env bash
# Builds everything and runs every test; ends with ctest's summary.
#   scripts/test.sh                      plain build in build/
#   scripts/test.sh --sanitize LIST      e.g. address,undefined or thread, in build-<LIST>/
set -euo pipefail
cd "$(dirname "$0")/.."

sanitize=""
while [ $# -gt 0 ]; do
    case "$1" in
    --sanitize) sanitize="$2"; shift 2 ;;
    *) echo "usage: scripts/test.sh [--sanitize address,undefined|thread]" >&2; exit 2 ;;
    esac
done

scripts/deps.sh cmake make gcc g++ libgtest-dev libgmock-dev binutils procps libxml2-utils

build=build
[ -n "$sanitize" ] && build="build-${sanitize//,/-}"
jobs=$(nproc)

cmake -S . -B "$build" -DPOWERBANK_SANITIZE="$sanitize" >/dev/null
cmake --build "$build" -j"$jobs"
cd "$build"
ctest -j"$jobs" --output-on-failure --timeout 600
