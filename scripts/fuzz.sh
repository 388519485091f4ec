#!/usr/bin/env bash
# Runs a fuzz target under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang), built in build-fuzz/.
#   scripts/fuzz.sh                          lists the targets
#   scripts/fuzz.sh TARGET SECONDS [OPTION...] fuzzes TARGET for SECONDS; the
#                                            options go to libFuzzer (-runs=N,
#                                            -jobs=N, -max_len=N, ...)
# The checked-in seeds (tests/fuzz/corpus/TARGET) are read, never written: new
# inputs go to build-fuzz/corpus/TARGET, a crash to build-fuzz/crash-*. An
# input that crashed belongs in the seeds, with its fix.
set -euo pipefail
cd "$(dirname "$0")/.."

seeds=tests/fuzz/corpus
if [ $# -eq 0 ]; then
    ls "$seeds"
    exit 0
fi
if [ $# -lt 2 ] || [ ! -d "$seeds/$1" ]; then
    echo "usage: scripts/fuzz.sh [TARGET SECONDS [libFuzzer option...]]; targets: $(ls "$seeds" | xargs)" >&2
    exit 2
fi
target=$1
seconds=$2
shift 2

scripts/deps.sh cmake make clang libclang-rt-14-dev
build=build-fuzz
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DPOWERBANK_FUZZ=ON -DPOWERBANK_SANITIZE=address,undefined -DPOWERBANK_UBUS=SIM >/dev/null
cmake --build "$build" -j2 --target "fuzz_$target"
mkdir -p "$build/corpus/$target"
cd "$build"
# The targets' own output (the broker's trace lines) would drown libFuzzer's.
exec "tests/fuzz/fuzz_$target" -max_total_time="$seconds" -close_fd_mask=3 -print_final_stats=1 \
    "$@" "corpus/$target" "../$seeds/$target"
