#!/bin/sh
# check-musl-elf.sh BINARY
#
# Fails, saying why, unless BINARY is a program as the device takes it: built
# against musl (its loader /lib/ld-musl-mipsel.so.1, no glibc symbol
# versions) and needing only musl's libc.so, libubox.so, libubus.so and the
# store library (so neither libstdc++ nor libgcc_s). Prints the loader and the
# NEEDED list.
set -u
if [ $# -ne 1 ]; then
    echo "usage: $0 BINARY" >&2
    exit 2
fi
bin=$1
interp=$(readelf -lW "$bin" | sed -n 's/.*program interpreter: \(.*\)\]/\1/p')
needed=$(readelf -d "$bin" | sed -n 's/.*(NEEDED).*\[\(.*\)\].*/\1/p' | tr '\n' ' ')
echo "interpreter: $interp"
echo "NEEDED: $needed"
status=0
[ "$interp" = /lib/ld-musl-mipsel.so.1 ] || { echo "FAIL: $bin: not musl's loader" >&2; status=1; }
for lib in $needed; do
    case $lib in
    libc.so | libubox.so | libubus.so | libdevmgr.so.1) ;;
    *) echo "FAIL: $bin needs $lib" >&2; status=1 ;;
    esac
done
# (grep -q would end the pipe early; the whole listing is read.)
if readelf -VW "$bin" | grep 'GLIBC_' >/dev/null; then
    echo "FAIL: $bin carries glibc symbol versions" >&2
    status=1
fi
exit $status
