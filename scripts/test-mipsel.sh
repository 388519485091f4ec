#!/usr/bin/env bash
# test-mipsel.sh [CTEST_ARGS...]
#
# Builds the daemon, the stand-ins, the simulated board and the tests for the
# device's CPU (32-bit little-endian MIPS) in build-mipsel/ and runs the tests
# under qemu-mipsel. Installs the Debian packages it needs (through sudo when
# not root), checks that the mipsel daemon does not need libstdc++.so, and ends
# with ctest's summary line; exits non-zero on any failure.
#
# Extra arguments go to ctest, e.g. -R Store or -LE scenario.
#
# Target programs that a test starts itself (the store tool, the bus tools, the
# daemon on the simulated board) are run through qemu too:
#  - BOARDSIM_EMULATOR makes `boardsim run` start its command as
#    "qemu-mipsel -L SYSROOT -E LD_PRELOAD=<board library> CMD", so the preload
#    reaches the emulated daemon and not the host's qemu process;
#  - POWERBANK_EMULATOR is the same prefix for any other test that starts a
#    built program and honours it;
#  - binfmt_misc, where the kernel offers it, runs any other mipsel program
#    started by a test through qemu (QEMU_LD_PREFIX names the sysroot).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${POWERBANK_MIPSEL_BUILD:-$root/build-mipsel}
sysroot=/usr/mipsel-linux-gnu
jobs=${POWERBANK_JOBS:-2}

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

# --- packages -------------------------------------------------------------
packages=(cmake make g++ binutils g++-mipsel-linux-gnu binutils-mipsel-linux-gnu qemu-user
    qemu-user-binfmt libgtest-dev:mipsel)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "=== installing: ${missing[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx mipsel; then
        as_root dpkg --add-architecture mipsel
    fi
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
fi

# --- running mipsel programs ----------------------------------------------
emulator="qemu-mipsel -L $sysroot"
export BOARDSIM_EMULATOR="$emulator"
export POWERBANK_EMULATOR="$emulator"
export QEMU_LD_PREFIX=$sysroot

binfmt=/proc/sys/fs/binfmt_misc
if [ ! -e $binfmt/qemu-mipsel ]; then
    # Not there on a fresh machine: mount the file system and register the
    # entry that qemu-user-binfmt ships. Either step may be refused (a
    # container); the emulator prefixes above still work then.
    if [ ! -e $binfmt/register ]; then
        as_root mount -t binfmt_misc binfmt_misc $binfmt 2>/dev/null || true
    fi
    as_root sh -c "cat /usr/lib/binfmt.d/qemu-mipsel.conf > $binfmt/register" 2>/dev/null || true
fi
if grep -qx enabled $binfmt/qemu-mipsel 2>/dev/null; then
    echo "=== binfmt_misc: mipsel programs started by tests run through qemu-mipsel"
else
    echo "=== binfmt_misc not available: only programs started through the emulator prefix run"
fi

# --- build ----------------------------------------------------------------
echo "=== configure and build ($build)"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mipsel.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs"

echo "=== the daemon's run-time libraries"
readelf -d "$build/src/powerbank" | grep NEEDED
"$root/scripts/check-needed.sh" "$build/src/powerbank"
echo "    no libstdc++.so: ok"

# --- tests ----------------------------------------------------------------
echo "=== tests under qemu-mipsel"
cd "$build"
ctest --output-on-failure --timeout 900 "$@"
