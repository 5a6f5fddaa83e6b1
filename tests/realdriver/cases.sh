#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The cases that run inside the guest (see run.sh), in this machine's root,
# against /dev/ttyUSB0 of the kernel's ftdi_sio driver. The host plugs and
# unplugs the adapter on request. Each case writes PASS or FAIL with its reason
# into WORK/results, and figures as FIGURE lines.
# Usage (in the guest): cases.sh WORK
set -uo pipefail

work=$1
bin=$(cd "$work/../bin" && pwd)
dumps=$work/dumps
results=$work/results
device=/dev/ttyUSB0
sysfs=/sys/bus/usb-serial/devices/ttyUSB0
block=1024
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' LANG=C.UTF-8
cd "$work" || exit 1

pass() { echo "PASS $*" | tee -a "$results"; }
failed() { echo "FAIL $*" | tee -a "$results"; }
figure() { echo "FIGURE $*" | tee -a "$results"; }
now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# Asks the host for something (plug, unplug, ...) and prints its answer.
host() {
    # Numbered by the requests so far: a caller may run it in a subshell.
    local requests
    requests=$(($(ls "$work/requests" | wc -l) + 1))
    printf '%s\n' "$*" >"$work/requests/$requests.new"
    mv "$work/requests/$requests.new" "$work/requests/$requests"
    while [ ! -f "$work/answers/$requests" ]; do sleep 0.1; done
    cat "$work/answers/$requests"
}

# Waits (up to a generous limit) until the condition holds; false when it never did.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}
device_present() { [ -c "$device" ] && [ -e "$sysfs" ]; }
device_gone() { [ ! -e "$device" ]; }
# Bytes in a file (0 when it is not there).
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
part_has_blocks() { [ "$(size_of "$1")" -ge $(($2 * block)) ]; }

plug() {
    local answer
    answer=$(host plug "$@")
    [ "$answer" = ok ] || { failed "plug: $answer"; return 1; }
    wait_for 60 device_present || { failed "plug: $device did not appear"; return 1; }
}
unplug() {
    local answer
    answer=$(host unplug)
    wait_for 60 device_gone || failed "unplug: $device stayed"
    unplugged=${answer#ok }
}

# The flash image behind the adapter: random bytes with a model name, so that
# every byte value goes through the driver.
image=$work/image.bin
head -c $((1024 * block)) /dev/urandom >"$image"
printf 'KSF-2100\0' | dd of="$image" bs=1 seek=8 conv=notrunc status=none
same_as_image() { # FILE [FIRST_BLOCK COUNT]: the file equals those blocks of the image
    local first=${2:-0} count=${3:-1024}
    [ "$(size_of "$1")" -eq $((count * block)) ] && cmp -s -n $((count * block)) "$1" "$image" 0 $((first * block))
}

# ---- A full read at line speed, its line settings and the latency timer --------

full_read() {
    plug --image "$image" || return
    local latency_before latency_during
    latency_before=$(cat "$sysfs/latency_timer" 2>/dev/null)
    mkdir -p "$dumps/full"
    # The line settings in force are the last ones the adapter was told before
    # block 8, and none may change from there to block 1000.
    local early late start end status
    start=$(now)
    "$bin/tarvik-dump" -p "$device" -o "$dumps/full" --json >full.json 2>full.err &
    local pid=$!
    wait_for 120 part_has_blocks "$dumps/full/KSF-2100.bin.part" 8
    early=$(host trace-mark)
    latency_during=$(cat "$sysfs/latency_timer" 2>/dev/null)
    wait_for 200 part_has_blocks "$dumps/full/KSF-2100.bin.part" 1000
    late=$(host trace-mark)
    wait "$pid"
    status=$?
    end=$(now)
    echo "$early $late" >"$work/full-read.trace"
    local latency_after
    latency_after=$(cat "$sysfs/latency_timer" 2>/dev/null)

    local wall
    wall=$(seconds "$start" "$end")
    if [ "$status" -eq 0 ] && grep -q '"result": *"ok"' full.json && same_as_image "$dumps/full/KSF-2100.bin"; then
        pass "full read: 1024 blocks byte-exact through ftdi_sio, sha256 $(sha256sum <"$dumps/full/KSF-2100.bin" | cut -d' ' -f1)"
    else
        failed "full read: status $status, $(cat full.json full.err | tr '\n' ' ')"
    fi
    if [ "$latency_during" = 1 ] && [ "$latency_after" = "$latency_before" ]; then
        pass "latency timer: $latency_before ms before the run, 1 ms during it, $latency_after ms after it"
    else
        failed "latency timer: $latency_before ms before the run, $latency_during ms during it, $latency_after ms after it"
    fi
    unplug
    # The wire: every byte both ways at 10 bits a byte, from the loader's own counts.
    local counts
    counts=$(grep '^received' "$work/sim-$unplugged.out")
    local wire
    wire=$(awk -v c="$counts" 'BEGIN { split(c, w, " "); printf "%.2f", (w[2] + w[4]) * 10 / 115200 }')
    figure "full read: wall $wall s, wire $wire s ($counts), wall / wire $(awk -v a="$wall" -v b="$wire" 'BEGIN { printf "%.4f", a / b }')"
}

full_read
echo "cases: done"
