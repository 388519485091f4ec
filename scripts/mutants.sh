#!/usr/bin/env bash
# mutants.sh [--build DIR] [NAME...]
# mutants.sh [--build DIR] --random N --seed S
#
# Plants small faults in src/, one at a time, and runs the suite against each:
# a fault the suite does not notice is a fault a change could bring in
# unnoticed. Each fault is one fixed-text replacement in one file, planted in
# a copy of the tree under DIR/tree (so the checkout can be worked on
# meanwhile). The build directory DIR (default build-mutants/;
# build-mutants-random/ for --random) is the script's own and is built
# incrementally; labels soak and fuzz are left out of the runs (fuzz replays
# stay in with --random). The file is always restored, also on Ctrl-C. Prints
# CAUGHT (with the failing tests) or MISSED per fault and a summary; with
# NAMEs, only those faults are planted.
#
# --random draws N mutants with seed S over every mutable site of src/
# (operator flips, constants one up or down, changed return values, deleted
# calls, negated conditions; scripts/mutants_random.py --list prints them all),
# plants each in the copy of the tree, runs the suite without the soak until
# its first failure, and prints killed, survived with file:line and mutation,
# and the score. A kill counts only when the failing test fails again when
# rerun.
# scripts/mutants-unobservable.txt lists the mutants nothing outside the
# daemon's process can see, each with its reason: drawn, but not scored.
#
# Exit status: 0 when every planted fault ran, 2 on a fault whose text is not
# found exactly once or that does not build, or when the suite fails before
# any fault is planted.
set -euo pipefail
cd "$(dirname "$0")/.."

build=""
if [ "${1:-}" = "--build" ]; then
    build=$2
    shift 2
fi
if [ "${1:-}" = "--random" ]; then
    build=${build:-build-mutants-random}
    [ $# -eq 4 ] && [ "$3" = "--seed" ] || {
        echo "usage: scripts/mutants.sh [--build DIR] --random N --seed S" >&2
        exit 2
    }
    exec python3 scripts/mutants_random.py --count "$2" --seed "$4" --build "$build"
fi
build=${build:-build-mutants}
# The checkout's files as they stand: unchanged ones keep their times, so the
# build stays incremental, changed ones (a fault a stopped run left) are new.
tree=$build/tree obj=$build/obj
python3 scripts/mutants_random.py --sync "$tree"

names=() files=() froms=() tos=()
fault() { # NAME FILE (under src/) FROM TO
    names+=("$1") files+=("$tree/src/$2") froms+=("$3") tos+=("$4")
}

# Wrong sleeps.
fault reset-settle bank/rt1719.cpp 'kResetSettleUs = 2000000' 'kResetSettleUs = 1500000'
fault reset-release bank/rt1719.cpp 'kResetReleaseUs = 1000000' 'kResetReleaseUs = 500000'
fault policy-default-delay power/policy.cpp 'kDefaultDelayUs = 1000000' 'kDefaultDelayUs = 500000'
fault led-tick-100ms led/led_thread.cpp 'kLedTickUs = 100000' 'kLedTickUs = 50000'
fault pass-one-second core/main.cpp 'sleep(1);' 'usleep(900000);'
# Off-by-one limits.
fault dc-limit-ceiling-31 core/state.cpp 'limit >= kDcDisconnectMaxCeiling' \
    'limit > kDcDisconnectMaxCeiling'
fault empty-battery-31-calls bank/cc_watch.cpp 'kEmptyBatteryCalls = 31' 'kEmptyBatteryCalls = 32'
fault over-current-every-5 power/over_current.cpp 'kCheckEvery = 5' 'kCheckEvery = 6'
fault loop-limit-greater core/control_loop.cpp 'powerbank_run_time_in_dc_disconnect >' \
    'powerbank_run_time_in_dc_disconnect >='
fault i2c-write-8-bytes hw/i2c.cpp 'len > kMaxWriteData' 'len > kMaxWriteData + 1'
fault recv-buffer-512 broker/broker.cpp 'kRecvBufSize = 512' 'kRecvBufSize = 513'
fault send-buffer-512 broker/messages.cpp 'kMsgBufSize = 512' 'kMsgBufSize = 513'
fault type-field-64 broker/broker.cpp 'kTypeSize = 64' 'kTypeSize = 65'
fault level-2.2V hw/mcu.cpp '>= 2.2 ?' '>= 2.1995 ?'
fault class-60W bank/rt1719.cpp 'watts >= kHighPowerWatts' 'watts > kHighPowerWatts'
fault class-10W bank/rt1719.cpp 'watts >= kUsableWatts' 'watts > kUsableWatts'
fault load-0.05V power/over_current.cpp 'kLoadVolts = 0.05' 'kLoadVolts = 0.0499'
fault tick-wrap-255 led/led_thread.cpp 'kTickLimit = 255' 'kTickLimit = 256'
fault selector-mask-7 bank/rt1719.cpp 'selector & 0x07u' 'selector & 0x0Fu'
fault pdo-register-stride bank/rt1719.cpp 'kPdoBaseReg + 4 * n' 'kPdoBaseReg + 3 * n'
# Inverted values.
fault pse-active-low power/policy.cpp 'ms51_poe_ctrl_write(name, is_on(d) ? 0 : 1)' \
    'ms51_poe_ctrl_write(name, is_on(d) ? 1 : 0)'
fault ups-led-opposite power/policy.cpp 'ms51_ups_led_write(is_on(d) ? 0 : 1)' \
    'ms51_ups_led_write(is_on(d) ? 1 : 0)'
fault led-255-vs-1 led/led_step.cpp 'kBankTypeHighPower ? kLedValueHigh : kLedValueLow' \
    'kBankTypeHighPower ? kLedValueLow : kLedValueHigh'
fault display-4-vs-5 core/display.cpp 'kDisplayChargingHighPower : kDisplaySupplyingHighPower' \
    'kDisplayChargingHighPower : kDisplaySupplyingLowPower'
fault threshold-high-byte power/thresholds.cpp 'set_total_rated_power(0xb7, kSelectHigh)' \
    'set_total_rated_power(0xb7, kSelectLow)'
fault reset-line-level bank/rt1719.cpp 'set_gpio_value(kGpioReset, 1)' 'set_gpio_value(kGpioReset, 0)'
fault super-cap-charging bank/rt1719.cpp 'status == 0x80 || status == 0x60' 'status == 0x80'
fault total-bit power/over_current.cpp 'kTotalBit = 0x40' 'kTotalBit = 0x80'
# Steps left out.
fault broker-type-id-reset broker/broker.cpp 'broker_type.id = 0;' ''
fault broker-local-socket-leak broker/broker.cpp '::close(local_sock.fd);' ''
fault dc-change-cc-index core/control_loop.cpp 'state->cc_sample_index = 0;' ''
fault policy-check-now power/policy.cpp 'state->over_current_check_now = 1;' ''
fault blink-phase-of-port-2 led/led_step.cpp \
    'port1.led_tick.store(port2.led_tick.load(kLedOrder), kLedOrder);' ''
fault display-dc-unknown core/display.cpp 'if (state->dc_current_state != kDcPresent) {' \
    'if (state->dc_current_state == kDcAbsent) {'
fault sigpipe-ignored core/main.cpp 'signal(SIGPIPE, SIG_IGN);' ''
fault one-daemon-lock core/main.cpp 'argc == 1 && !powerbank_take_instance_lock()' \
    'argc == 0 && !powerbank_take_instance_lock()'
fault direction-whole-buffer hw/gpio.cpp 'write_once(fd.get(), text, sizeof text)' \
    'write_once(fd.get(), text, strlen(text))'
# Faults a user would see that a random draw once found unnoticed.
fault led-port-2-as-3 led/led_step.cpp 'show_discharging(port2, 2,' 'show_discharging(port2, 3,'
fault poe2-load-channel power/over_current.cpp 'i2c_mcu_get_adc(0x95)' 'i2c_mcu_get_adc(0x94)'
fault mcu-reply-overrun hw/mcu.cpp 'read_once(fd.get(), text, sizeof text - 1)' \
    'read_once(fd.get(), text, sizeof text + 1)'
fault i2c-open-line hw/i2c.cpp 'puts("open failed ");' ''
fault selector-start-1 bank/rt1719.cpp 'uint8_t selector = 0;' 'uint8_t selector = 1;'
fault one-byte-datagram broker/broker.cpp 'MSG_TRUNC, nullptr, nullptr);' \
    'MSG_TRUNC, nullptr, nullptr); if (n == 1) n = 0;'

if [ $# -gt 0 ]; then
    wanted=" $* "
    for i in "${!names[@]}"; do
        [[ $wanted == *" ${names[$i]} "* ]] || unset "names[$i]"
    done
    [ ${#names[@]} -gt 0 ] || { echo "mutants: no fault named $*" >&2; exit 2; }
fi

# The file being changed and its saved content; put back on every way out.
current="" saved=""
restore() {
    if [ -n "$current" ]; then
        printf '%s' "$saved" >"$current"
        current=""
    fi
}
trap restore EXIT
trap 'restore; echo "mutants: interrupted" >&2; exit 130' INT TERM

occurrences() { # TEXT PART: how often PART stands in TEXT
    local text=$1 n=0
    while [[ $text == *"$2"* ]]; do
        text=${text#*"$2"}
        n=$((n + 1))
    done
    echo "$n"
}

ctest_args=(--test-dir "$obj" -j2 --timeout 300 -LE 'soak|fuzz')
# A failing test keeps its board for a look, and one killed at its time limit
# leaves it: the boards go into a directory of the run's own, emptied after
# each fault.
rm -rf "$build/boards"
mkdir -p "$build/boards"
BOARDSIM_TMPDIR=$(cd "$build/boards" && pwd)
export BOARDSIM_TMPDIR
run_suite() { # LOG: runs the suite; its status
    ctest "${ctest_args[@]}" >"$1" 2>&1
}

# Every FROM must stand exactly once in its file before anything is planted.
for i in "${!names[@]}"; do
    n=$(occurrences "$(cat "${files[$i]}"; echo x)" "${froms[$i]}")
    if [ "$n" -ne 1 ]; then
        echo "mutants: ${names[$i]}: '${froms[$i]}' stands $n times in ${files[$i]}" >&2
        exit 2
    fi
done

cmake -S "$tree" -B "$obj" -DPOWERBANK_SANITIZE= >/dev/null
logs=$build/mutants
mkdir -p "$logs"
cmake --build "$obj" -j2 >"$logs/build.log" 2>&1 || {
    echo "mutants: the unchanged tree does not build (see $logs/build.log)" >&2
    exit 2
}
if ! run_suite "$logs/clean.log"; then
    echo "mutants: the suite fails without any fault (see $logs/clean.log)" >&2
    exit 2
fi

results=() caught=0 total=0 status=0
for i in "${!names[@]}"; do
    name=${names[$i]} file=${files[$i]}
    current=$file
    saved=$(cat "$file"; echo x)
    saved=${saved%x}
    printf '%s' "${saved/"${froms[$i]}"/"${tos[$i]}"}" >"$file"
    if ! cmake --build "$obj" -j2 >"$logs/$name.build.log" 2>&1; then
        restore
        results+=("$(printf '%-26s DOES NOT BUILD' "$name")")
        status=2
        continue
    fi
    total=$((total + 1))
    if run_suite "$logs/$name.log"; then
        line=$(printf '%-26s MISSED' "$name")
    else
        caught=$((caught + 1))
        failed=$(sed -n 's/^[ \t]*[0-9]* - \([^ ]*\) .*/\1/p' "$logs/$name.log" | tr '\n' ' ')
        line=$(printf '%-26s CAUGHT  %s' "$name" "$failed")
    fi
    restore
    rm -rf "${BOARDSIM_TMPDIR:?}"/*
    results+=("$line")
    echo "$line"
done
# The copy is back as it was: leave the build directory matching it.
cmake --build "$obj" -j2 >"$logs/build.log" 2>&1 || true

echo
echo "=== faults planted: $total, caught: $caught, missed: $((total - caught))"
printf '%s\n' "${results[@]}"
exit "$status"
