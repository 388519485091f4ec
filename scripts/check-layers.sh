#!/bin/sh
# check-layers.sh [ROOT]
#
# Fails when an #include "..." in ROOT/src (default: this repository) points up
# or sideways. A folder of src/ may include its own headers and what its row of
# the README's folder table names under "May include": a folder as `hw/`, a
# single header as `core/state.h`. A folder without a row fails too, so a new
# module cannot slip past the table.
set -u
cd "${1:-$(dirname "$0")/..}" || exit 2
if [ ! -f README.md ] || [ ! -d src ]; then
    echo "$0: no README.md or src/ in $(pwd)" >&2
    exit 2
fi

# shellcheck disable=SC2046 # file names under src/ have no spaces
awk '
FILENAME == "README.md" {
    if ($0 !~ /^\| `src\/[a-z_]+\/` \|/) next
    split($0, cell, "|")
    folder = cell[2]
    gsub(/[ `]/, "", folder)
    split(folder, part, "/")
    allowed = " "
    rest = cell[4]
    while (match(rest, /`[^`]*\/[^`]*`/)) {
        allowed = allowed substr(rest, RSTART + 1, RLENGTH - 2) " "
        rest = substr(rest, RSTART + RLENGTH)
    }
    rules[part[2]] = allowed
    next
}
FNR == 1 {
    split(FILENAME, part, "/")
    module = part[2]
    if (!(module in rules)) {
        printf "%s: src/%s/ has no row in the README folder table\n", FILENAME, module
        bad = 1
    }
}
/^[ \t]*#[ \t]*include[ \t]*"/ && (module in rules) {
    target = $0
    sub(/^[^"]*"/, "", target)
    sub(/".*$/, "", target)
    n = split(target, to, "/")
    from = n > 1 ? to[1] : module
    if (from == module || index(rules[module], " " from "/ ") || index(rules[module], " " target " "))
        next
    also = rules[module] == " " ? "" : " and" substr(rules[module], 1, length(rules[module]) - 1)
    printf "%s:%d: includes \"%s\", but src/%s/ may include only its own headers%s\n",
        FILENAME, FNR, target, module, also
    bad = 1
}
END { exit bad }
' README.md $(find src -mindepth 2 -type f \( -name '*.h' -o -name '*.cpp' \) | sort)
