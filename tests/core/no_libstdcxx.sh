#!/bin/sh
# Fails when the binary needs libstdc++.so at run time (or cannot be read).
needed=$(readelf -d "$1") || exit 1
if printf '%s\n' "$needed" | grep -q 'NEEDED.*libstdc++'; then
    echo "$1 needs libstdc++.so:" >&2
    printf '%s\n' "$needed" | grep NEEDED >&2
    exit 1
fi
