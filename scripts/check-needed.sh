#!/bin/sh
# check-needed.sh BINARY [ALLOWED...]
#
# Fails when BINARY needs libstdc++.so at run time: the daemon is linked by the
# C driver and must run on a device without the C++ runtime. With ALLOWED
# library name prefixes given (e.g. libc.so libubus.so), every NEEDED entry must
# also start with one of them. Works for any ELF class and byte order
# (readelf reads mipsel binaries on an x86 host).
set -u
if [ $# -lt 1 ]; then
    echo "usage: $0 BINARY [ALLOWED_PREFIX...]" >&2
    exit 2
fi
bin=$1
shift
dyn=$(readelf -d "$bin") || { echo "$bin: cannot read its dynamic section" >&2; exit 1; }
needed=$(printf '%s\n' "$dyn" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p')
status=0
for lib in $needed; do
    case $lib in
    libstdc++*)
        echo "$bin needs $lib: the daemon must not use the C++ runtime" >&2
        status=1
        continue
        ;;
    esac
    if [ $# -gt 0 ]; then
        ok=0
        for allowed in "$@"; do
            case $lib in "$allowed"*) ok=1 ;; esac
        done
        if [ $ok = 0 ]; then
            echo "$bin needs $lib, which is not one of: $*" >&2
            status=1
        fi
    fi
done
exit $status
