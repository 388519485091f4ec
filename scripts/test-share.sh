#!/usr/bin/env bash
# test-share.sh [MAX]
#
# The share of test code in the project: non-blank, non-comment lines of C,
# C++, shell, Python and CMake in tests/ against those in the code: every
# top-level folder but tests/ and the build, packaging and documentation
# folders (scripts/, cmake/, openwrt/, docs/).
# Prints both counts and their ratio; exits 1 when the ratio is above MAX
# (default 0.33), so a suite that grows faster than the code it tests is
# noticed when it happens.
set -euo pipefail
cd "$(dirname "$0")/.."
max=${1:-0.33}

count() { # DIR...: code lines of the files under DIR
    find "$@" -type f \( -name '*.c' -o -name '*.h' -o -name '*.cpp' -o -name '*.hpp' \
        -o -name '*.cc' -o -name '*.sh' -o -name '*.py' -o -name 'CMakeLists.txt' \
        -o -name '*.cmake' \) -print0 |
        xargs -0 awk '
            FNR == 1 { c = (FILENAME ~ /\.(c|h|cpp|hpp|cc)$/); block = 0 }
            {
                line = $0
                sub(/^[ \t]+/, "", line)
                if (line == "") next
                if (c) {
                    if (block) { if (line ~ /\*\//) block = 0; next }
                    if (line ~ /^\/\//) next
                    if (line ~ /^\/\*/) { if (line !~ /\*\//) block = 1; next }
                } else if (line ~ /^#/) next
                n++
            }
            END { print n + 0 }'
}

tests=$(count tests)
code_dirs=$(find . -mindepth 1 -maxdepth 1 -type d ! -name '.*' \
    ! -name tests ! -name scripts ! -name cmake ! -name openwrt ! -name docs ! -name 'build*' |
    sort)
code=$(count $code_dirs)
ratio=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.3f", t / c }')
echo "test code: $tests lines; code ($(echo $code_dirs | sed 's|\./||g')): $code lines; ratio $ratio (at most $max)"
awk -v r="$ratio" -v m="$max" 'BEGIN { exit !(r <= m) }'
