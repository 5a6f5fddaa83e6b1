#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The cases that run inside the guest (see run.sh), in this machine's root,
# against /dev/ttyUSB0 of the kernel's ftdi_sio driver. The host plugs and
# unplugs the adapter on request. Each case writes PASS or FAIL with its reason
# into WORK/results, figures as FIGURE lines, and what this guest cannot check
# as NOT CHECKED with the reason.
# Usage (in the guest): cases.sh WORK
set -uo pipefail

work=$1
bin=$(cd "$work/../bin" && pwd)
# The dumps stay in the guest's own memory: appending to a file over 9p while
# another process looks at its size loses blocks in the 9p client.
dumps=/run/tarvik-dumps
results=$work/results
device=/dev/ttyUSB0
sysfs=/sys/bus/usb-serial/devices/ttyUSB0
block=1024
export QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.qpa.*=false' LANG=C.UTF-8
cd "$work" || exit 1

pass() { echo "PASS $*" | tee -a "$results"; }
failed() { echo "FAIL $*" | tee -a "$results"; }
figure() { echo "FIGURE $*" | tee -a "$results"; }
not_checked() { echo "NOT CHECKED $*" | tee -a "$results"; }
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

# The flash image behind the adapter (made by run.sh).
image=$work/image.bin
mkdir -p "$dumps"
chmod 1777 "$dumps"
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

# ---- An ordinary user, --list and a port held by another process -------------

# Runs tarvik-dump as nobody, with the given groups (none when empty).
as_user() {
    local groups=$1
    shift
    if [ -n "$groups" ]; then
        setpriv --reuid=nobody --regid=nogroup --groups="$groups" "$bin/tarvik-dump" "$@"
    else
        setpriv --reuid=nobody --regid=nogroup --clear-groups "$bin/tarvik-dump" "$@"
    fi
}

user_list_held() {
    plug --image "$image" || return
    chown root:dialout "$device"
    chmod 0660 "$device"

    mkdir -p "$dumps/user"
    chmod 1777 "$dumps/user"
    as_user "" -p "$device" -o "$dumps/user" --count 4 >user.out 2>user.err
    local status=$?
    if [ "$status" -eq 1 ] && grep -qF "No permission to open $device. Add your user to the group \"dialout\"" user.err; then
        pass "ordinary user without the group: told to join \"dialout\""
    else
        failed "ordinary user without the group: status $status, $(tr '\n' ' ' <user.err)"
    fi
    as_user dialout -p "$device" -o "$dumps/user" --count 4 >user.out 2>user.err
    status=$?
    if [ "$status" -eq 0 ] && same_as_image "$dumps/user/FlashDump.bin" 0 4; then
        pass "ordinary user in \"dialout\": 4 blocks read byte-exact"
    else
        failed "ordinary user in \"dialout\": status $status, $(tr '\n' ' ' <user.err)"
    fi

    "$bin/tarvik-dump" --list >list.out 2>&1
    if grep -q "ttyUSB0" list.out && grep -q "0403:6001" list.out && grep -q "QEMU" list.out; then
        pass "--list: $(grep ttyUSB0 list.out | tr -s ' ')"
    else
        failed "--list: $(tr '\n' ' ' <list.out)"
    fi

    mkdir -p "$dumps/held"
    "$bin/tarvik-dump" -p "$device" -o "$dumps/held" --count 64 >held.out 2>held.err &
    local holder=$!
    wait_for 120 part_has_blocks "$dumps/held/FlashDump.bin.part" 2
    "$bin/tarvik-dump" -p "$device" -o "$dumps/held" --count 4 >held2.out 2>held2.err
    status=$?
    if [ "$status" -eq 1 ] && grep -qF "$device is in use by tarvik-dump (pid $holder)." held2.err; then
        pass "held port: $(grep -F "in use" held2.err)"
    else
        failed "held port: status $status, $(tr '\n' ' ' <held2.err)"
    fi
    wait "$holder" || failed "held port: the holder's own read failed: $(tr '\n' ' ' <held.err)"
    unplug
}

# ---- Unplugged mid-run, plugged back, continued --------------------------------

lost_and_resumed() {
    plug --image "$image" || return
    mkdir -p "$dumps/lost"
    local part=$dumps/lost/KSF-2100.bin.part
    "$bin/tarvik-dump" -p "$device" -o "$dumps/lost" --json >lost.json 2>lost.err &
    local pid=$!
    wait_for 120 part_has_blocks "$part" 100
    local pulled stopped status
    pulled=$(now)
    host unplug >unplug.answer &
    local unplugging=$!
    wait "$pid"
    status=$?
    stopped=$(now)
    wait "$unplugging"
    unplugged=$(cut -d' ' -f2 unplug.answer)
    local took
    took=$(seconds "$pulled" "$stopped")
    figure "unplug: the run stopped $took s after the unplug was asked for"
    local expected="tarvik-dump: $device: Serial port lost: the adapter was disconnected ($device): plug it in again and continue with tarvik-dump -p $device --resume $part"
    local blocks=$(($(size_of "$part") / block))
    if [ "$status" -eq 1 ] && grep -q '"result":"port-lost"' lost.json && grep -qxF "$expected" lost.err \
        && [ $(($(size_of "$part") % block)) -eq 0 ] && [ "$blocks" -ge 100 ] && same_as_image "$part" 0 "$blocks" \
        && awk -v t="$took" 'BEGIN { exit !(t < 10) }'; then
        pass "unplug mid-run: port-lost, exit 1, $blocks whole blocks kept, stopped after $took s: $(grep -F 'Serial port lost' lost.err)"
    else
        failed "unplug mid-run: status $status after $took s, $blocks blocks, $(cat lost.json lost.err | tr '\n' ' ')"
    fi
    if ls /run/lock/LCK..ttyUSB0 >/dev/null 2>&1; then
        failed "unplug mid-run: the lock /run/lock/LCK..ttyUSB0 stayed"
    else
        pass "unplug mid-run: the lock is released"
    fi

    # Plugged back (the box put into HOST - MODE again): the command the message gave.
    plug --image "$image" || return
    local command
    # The message comes first; the summary line after it repeats it.
    command=$(grep -o 'continue with tarvik-dump .*' lost.err | head -n 1 | sed 's/^continue with //')
    PATH=$bin:$PATH bash -c "$command --json" >resumed.json 2>resumed.err
    status=$?
    if [ "$status" -eq 0 ] && grep -q '"result":"ok"' resumed.json && grep -q '"resumed_from"' resumed.json \
        && same_as_image "$dumps/lost/KSF-2100.bin"; then
        pass "plugged back and resumed with \"$command\": 1024 blocks byte-exact"
    else
        failed "plugged back and resumed: status $status, $(cat resumed.json resumed.err | tr '\n' ' ')"
    fi
    unplug
}

# ---- The window: a partial read, and an unplug during a read ------------------

# Runs the window without a person (windowdriver.cpp): FOLDER START COUNT.
window() {
    "$bin/tarvik-window-driver" "$@" 60
}
# The driver's report, on one line for a FAIL.
shown() { tr '\n' ' ' <"$1"; }

window_read_and_lost() {
    local device_line="COM 1: $device"
    # COM 1 named by the variable, as a user would point the window at an adapter.
    plug --image "$image" || return
    mkdir -p "$dumps/window-read"
    TARVIK_COM1=$device window "$dumps/window-read" 200 48 >window-read.out 2>window-read.err
    local status=$?
    local kept
    kept=$(ls -A "$dumps/window-read" | tr '\n' ' ')
    if [ "$status" -eq 0 ] && grep -qxF "outcome: ok" window-read.out && grep -qxF "log: Transfer succesfull!" window-read.out \
        && grep -q "^$device_line\( \|$\)" window-read.out && ! grep -q "^message box" window-read.out \
        && [ "$kept" = "FlashDump.bin " ] && same_as_image "$dumps/window-read/FlashDump.bin" 200 48; then
        pass "window, partial read: blocks 200 to 247 byte-exact through $(grep '^COM 1:' window-read.out)"
    else
        failed "window, partial read: status $status, folder holds $kept; $(shown window-read.out) $(shown window-read.err)"
    fi
    unplug

    # COM 1 found by the window itself (the first USB adapter), unplugged during a read.
    plug --image "$image" || return
    mkdir -p "$dumps/window-lost"
    local part=$dumps/window-lost/FlashDump.bin.part
    (unset TARVIK_COM1; window "$dumps/window-lost" 100 400 >window-lost.out 2>window-lost.err) &
    local pid=$!
    wait_for 120 part_has_blocks "$part" 20
    host unplug >window-unplug.answer &
    local unplugging=$!
    wait "$pid"
    status=$?
    wait "$unplugging"
    unplugged=$(cut -d' ' -f2 window-unplug.answer)
    wait_for 60 device_gone || failed "unplug: $device stayed"
    # After the last block's log line: at its end when a request was on its way.
    local expected="Serial port lost: the adapter was disconnected ($device): plug it in again and continue with Open"
    local blocks=$(($(size_of "$part") / block))
    if [ "$status" -eq 0 ] && grep -qxF "outcome: port-lost" window-lost.out && grep '^log: ' window-lost.out | grep -qF "$expected" \
        && grep -q "^$device_line\( \|$\)" window-lost.out && ! grep -q "^message box" window-lost.out \
        && [ $(($(size_of "$part") % block)) -eq 0 ] && [ "$blocks" -ge 20 ] && same_as_image "$part" 100 "$blocks"; then
        pass "window, unplug during a read: $blocks whole blocks kept, the log says: $expected"
    else
        failed "window, unplug during a read: status $status, $blocks blocks; $(shown window-lost.out) $(shown window-lost.err)"
    fi
}

# ---- The adapter's /dev/serial/by-id link, made by udev's own rules -----------

# The guest's cases run in a chroot (its PID 1 is the initramfs's /init), where
# udevadm's trigger, settle and control do nothing unless told to go on.
udevadm_() { SYSTEMD_IGNORE_CHROOT=1 "$udevadm" "$@"; }
udevd_pid=
# Starts udev's daemon; false (with the reason in $udevd_why) when it cannot.
# It writes under /run/udev and makes its links in /dev: both are the guest's
# own (a tmpfs and the guest's devtmpfs, see guest-init.sh), never the host's.
start_udevd() {
    local daemon
    udevd_why=
    udevadm=$(command -v udevadm)
    for daemon in "$(command -v systemd-udevd)" /lib/systemd/systemd-udevd /usr/lib/systemd/systemd-udevd; do
        [ -n "$daemon" ] && [ -x "$daemon" ] && break
        daemon=
    done
    if [ -z "$daemon" ]; then
        udevd_why="systemd-udevd, which makes those links, is not installed on this machine (scripts/setup.sh installs udev)"
        return 1
    fi
    if [ -z "$udevadm" ]; then
        udevd_why="udevadm, which sets systemd-udevd to work, is not installed on this machine (scripts/setup.sh installs udev)"
        return 1
    fi
    # In the background rather than --daemon, so that its process id is known.
    SYSTEMD_IGNORE_CHROOT=1 "$daemon" >udevd.log 2>&1 &
    udevd_pid=$!
    if ! wait_for 60 udevd_answers_or_gone || udevd_gone; then
        udevd_why="$daemon did not start in the guest: $(tail -3 udevd.log | tr '\n' ' ')"
        stop_udevd
        return 1
    fi
}
udevd_gone() { ! kill -0 "$udevd_pid" 2>/dev/null; }
udevd_answers_or_gone() { udevd_gone || udevadm_ control --ping 2>/dev/null; }
stop_udevd() {
    [ -n "$udevd_pid" ] || return 0
    udevadm_ control --exit 2>/dev/null
    if ! wait_for 30 udevd_gone; then
        kill "$udevd_pid" 2>/dev/null
    fi
    wait "$udevd_pid" 2>/dev/null
    udevd_pid=
}
# The by-id link that udev made for the device (empty when there is none).
by_id_link() {
    local link
    for link in /dev/serial/by-id/usb-*; do
        if [ -L "$link" ] && [ "$(readlink -f "$link")" = "$device" ]; then
            echo "$link"
            return
        fi
    done
}

by_id() {
    if ! start_udevd; then
        not_checked "--list with /dev/serial/by-id: $udevd_why"
        return
    fi
    if plug --image "$image"; then
        udevadm_ trigger --action=add --subsystem-match=tty
        udevadm_ settle --timeout=60
        local link
        link=$(by_id_link)
        if [ -z "$link" ]; then
            failed "by-id: udev made no /dev/serial/by-id link to $device: $(ls -l /dev/serial/by-id 2>&1 | tr '\n' ' ')"
        else
            by_id_cases "$link"
        fi
        unplug
    fi
    stop_udevd
}

by_id_cases() {
    local link=$1
    "$bin/tarvik-dump" --list >by-id-list.out 2>&1
    if awk -v d="$device" -v l="$link" '$1 == d && $2 == l { found = 1 } END { exit !found }' by-id-list.out; then
        pass "--list with /dev/serial/by-id: $(grep "^$device " by-id-list.out | tr -s ' ')"
    else
        failed "--list with /dev/serial/by-id: no row \"$device $link\": $(tr '\n' ' ' <by-id-list.out)"
    fi
    "$bin/tarvik-dump" --list --json >by-id-list.json 2>&1
    if grep -F "\"device\":\"$device\"" by-id-list.json | grep -qF "\"by_id\":\"$link\""; then
        pass "--list --json with /dev/serial/by-id: $(grep -F "\"device\":\"$device\"" by-id-list.json)"
    else
        failed "--list --json with /dev/serial/by-id: no by_id $link for $device: $(tr '\n' ' ' <by-id-list.json)"
    fi

    mkdir -p "$dumps/by-id"
    "$bin/tarvik-dump" -p "$link" -o "$dumps/by-id" --count 8 >by-id.out 2>by-id.err
    local status=$?
    if [ "$status" -eq 0 ] && same_as_image "$dumps/by-id/FlashDump.bin" 0 8; then
        pass "-p $link: 8 blocks read byte-exact"
    else
        failed "-p $link: status $status, folder holds $(ls -A "$dumps/by-id" | tr '\n' ' '); $(tr '\n' ' ' <by-id.err)"
    fi
}

full_read
user_list_held
lost_and_resumed
window_read_and_lost
by_id
echo "cases: done"
