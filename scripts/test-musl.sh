#!/usr/bin/env bash
# test-musl.sh [CTEST_ARGS...]
#
# The daemon on the device's C library: builds the daemon, its companion
# powerbankctl, the store library, the bus stand-in and the simulated board for
# 32-bit little-endian MIPS with musl (cmake/toolchain-mipsel-musl.cmake) in
# build-musl/, checks the ELF of the daemon and the companion (musl's loader,
# NEEDED only libc.so, libubox.so, libubus.so and the store library, no glibc
# symbol versions), then runs every scenario test (ctest label `scenario`: each
# starts the real daemon on the simulated board) with the musl daemon, the musl
# companion and the musl board library under qemu-mipsel. Ends with ctest's
# summary; exits non-zero on any failure.
#
# Before the tests it builds the daemon as an integrator does against a staging
# directory: the libraries built here for musl (the stand-in libubox and
# libubus, the store library) are installed with DESTDIR into
# build-musl-staging/root, and the daemon is built for musl against it with
# -DCMAKE_PREFIX_PATH=<staging>/usr -DPOWERBANK_UBUS=REAL and checked like the
# other.
#
# The test programs, the board tool and the bus daemon are the host build's
# (build/, as scripts/test.sh makes it): GoogleTest is not packaged for musl,
# and the bus socket is a Unix socket that qemu-user passes through. Extra
# arguments go to ctest, e.g. -R Startup.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
host_build=${POWERBANK_BUILD_DIR:-$root/build}
build=${POWERBANK_MUSL_BUILD:-$root/build-musl}
jobs=${POWERBANK_JOBS:-2}

# --- packages (musl-dev:mipsel and musl:mipsel need the foreign architecture) ---
if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
    if [ "$(id -u)" = 0 ]; then dpkg --add-architecture mipsel; else sudo dpkg --add-architecture mipsel; fi
fi
scripts/deps.sh cmake make gcc g++ binutils procps libgtest-dev libgmock-dev \
    g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user musl-dev:mipsel musl:mipsel

# --- builds ---------------------------------------------------------------
echo "=== host build of the tests ($host_build)"
cmake -S "$root" -B "$host_build" >/dev/null
cmake --build "$host_build" -j"$jobs"

echo "=== musl build ($build)"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mipsel-musl.cmake" \
    -DPOWERBANK_UBUS=SIM >/dev/null
cmake --build "$build" -j"$jobs"

# --- the daemon's ELF -----------------------------------------------------
daemon=$build/src/powerbank
ctl=$build/powerbankctl/powerbankctl
preload=$build/platform/boardsim/libboardsim.so
echo "=== the musl daemon's and companion's ELF"
scripts/check-musl-elf.sh "$daemon"
scripts/check-musl-elf.sh "$ctl"

# --- a staging build: the daemon against installed musl libraries --------
staging=${POWERBANK_MUSL_STAGING:-$root/build-musl-staging}
echo "=== staging build: the musl daemon against the libraries installed in $staging/root"
rm -rf "$staging"
DESTDIR="$staging/root" cmake --install "$build" --prefix /usr --component libraries >/dev/null
found=$(cmake -S "$root" -B "$staging/build" \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mipsel-musl.cmake" \
    -DCMAKE_PREFIX_PATH="$staging/root/usr" -DPOWERBANK_UBUS=REAL -DPOWERBANK_BUILD_PLATFORM=OFF |
    sed -n 's/^-- Bus libraries: //p')
echo "bus libraries: $found"
case $found in
"real ($staging/root/usr/lib/libubus.so, $staging/root/usr/lib/libubox.so)") ;;
*) echo "FAIL: the staging build did not take the staged libraries" >&2; exit 1 ;;
esac
cmake --build "$staging/build" -j"$jobs" --target powerbank
scripts/check-musl-elf.sh "$staging/build/src/powerbank"

# --- scenario tests with the musl daemon under qemu ----------------------
echo "=== scenario tests: the musl daemon, companion and board library under qemu-mipsel"
export SCENARIO_DAEMON=$daemon
export SCENARIO_CTL=$ctl
export SCENARIO_PRELOAD=$preload
export SCENARIO_EMULATOR=qemu-mipsel
cd "$host_build"
ctest -L scenario -j"$jobs" --output-on-failure --timeout 900 "$@"
