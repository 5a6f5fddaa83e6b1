#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs Tarvik through the kernel's real USB-serial driver. A small Linux guest
# under QEMU (plain emulation, no KVM needed) sees QEMU's usb-serial device, an
# emulated FTDI FT232 (0403:6001), through ftdi_sio as /dev/ttyUSB0; behind the
# adapter is the simulated boot loader on a pseudo-terminal of this machine.
# The guest enters this machine's root over 9p and runs the build tree's own
# binaries (cases.sh); this script plugs and unplugs the adapter when the
# guest asks for it, and checks afterwards what the adapter was told.
#
# Usage: tests/realdriver/run.sh BUILD_DIR
# Exit status: 0 every case held, 1 a case failed, 77 skipped (the reason is
# printed: QEMU or the guest kernel is not available here).
#
# The guest kernel comes from the Debian package that linux-image-amd64
# depends on, fetched with apt-get download and unpacked (never installed). It
# and the initramfs are cached by the kernel's version in
# $TARVIK_GUEST_CACHE (default BUILD_DIR/realdriver-cache).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
cache=${TARVIK_GUEST_CACHE:-$build/realdriver-cache}
work=$build/realdriver-work
sim=$build/bin/tarvik-loader-sim
modules=(virtio_ring virtio virtio_pci_legacy_dev virtio_pci_modern_dev virtio_pci
         9pnet 9pnet_virtio netfs fscache 9p
         usb-common usbcore xhci-hcd xhci-pci
         usbserial ftdi_sio)
boot_limit=${TARVIK_GUEST_BOOT_LIMIT:-300}   # seconds until the guest must be up
session_limit=${TARVIK_GUEST_LIMIT:-1200}    # seconds for the whole guest session

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; exit 1; }

# ---- What this machine must offer -------------------------------------------

command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (scripts/setup.sh installs qemu-system-x86)"
command -v cpio >/dev/null || skip "cpio is not installed (scripts/setup.sh installs it)"
busybox=$(command -v busybox || true)
[ -n "$busybox" ] || skip "busybox is not installed (scripts/setup.sh installs busybox-static)"
if ldd "$busybox" >/dev/null 2>&1; then
    skip "$busybox is linked dynamically; the guest's initramfs needs busybox-static"
fi
[ "$(id -u)" -eq 0 ] || skip "the guest shares this machine's root with its owners kept (9p passthrough), which only root may do"
[ -x "$sim" ] && [ -x "$build/bin/tarvik-dump" ] && [ -x "$build/bin/tarvik" ] && [ -x "$build/bin/tarvik-window-driver" ] \
    || fail "build $build first"
case "$build$here" in
*[[:space:]]*) skip "the guest's command line cannot carry a path with blanks: $build" ;;
esac

# QEMU must have the machine, the USB controller, the adapter and 9p.
probe=$(printf 'quit\n' | timeout 60 qemu-system-x86_64 -M q35 -nodefaults -display none -monitor stdio -S \
        -device qemu-xhci -chardev null,id=probe -device usb-serial,chardev=probe \
        -virtfs local,path=/,mount_tag=probe,security_model=passthrough,multidevs=remap 2>&1) \
    || skip "QEMU cannot start the guest's machine here: $(printf '%s' "$probe" | grep -v '^QEMU\|^(qemu)' | head -3 | tr '\n' ' ')"

# ---- The guest kernel and initramfs, cached by version ------------------------

kernel_package=$(apt-cache depends linux-image-amd64 2>/dev/null | awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }' || true)
kernel_version=
[ -z "$kernel_package" ] || kernel_version=$(apt-cache show --no-all-versions "$kernel_package" 2>/dev/null \
                                                 | awk '$1 == "Version:" { print $2; exit }' || true)
if [ -n "$kernel_version" ]; then
    guest=$cache/${kernel_package}_$kernel_version
else
    # No package lists: a kernel cached earlier will do.
    guest=$(ls -d "$cache"/linux-image-*/ 2>/dev/null | sort -V | tail -1 || true)
    guest=${guest%/}
    [ -n "$guest" ] || skip "apt knows no linux-image-amd64 to take the guest kernel from (run apt-get update)"
fi

fetch_kernel() {
    local unpack=$cache/unpack.$$
    rm -rf "$unpack"
    mkdir -p "$unpack"
    if ! (cd "$unpack" && apt-get download "$kernel_package=$kernel_version" >download.log 2>&1); then
        if [ ! -d /var/lib/apt/lists ] || ! (apt-get update -q >/dev/null 2>&1 \
                && cd "$unpack" && apt-get download "$kernel_package=$kernel_version" >download.log 2>&1); then
            local why
            why=$(tail -1 "$unpack/download.log" 2>/dev/null)
            rm -rf "$unpack"
            skip "cannot fetch the guest kernel $kernel_package $kernel_version: $why"
        fi
    fi
    dpkg-deb -x "$unpack"/*.deb "$unpack/root"
    local tree
    tree=$(ls -d "$unpack"/root/lib/modules/*/ | head -1)
    mkdir -p "$unpack/guest/modules"
    cp "$unpack"/root/boot/vmlinuz-* "$unpack/guest/vmlinuz"
    for m in "${modules[@]}"; do
        local file
        file=$(find "$tree" -name "$m.ko*" -o -name "${m//-/_}.ko*" | head -1)
        [ -n "$file" ] || fail "the guest kernel $kernel_version has no module $m"
        case "$file" in
        *.ko) cp "$file" "$unpack/guest/modules/$m.ko" ;;
        *.ko.xz) xz -dc "$file" >"$unpack/guest/modules/$m.ko" ;;
        *.ko.zst) zstd -qdc "$file" >"$unpack/guest/modules/$m.ko" ;;
        *) fail "cannot unpack $file" ;;
        esac
    done
    printf '%s\n' "${modules[@]}" >"$unpack/guest/modules/order"
    rm -rf "$guest"
    mv "$unpack/guest" "$guest"
    rm -rf "$unpack"
}

build_initramfs() {
    local tree=$guest/initramfs.tree
    rm -rf "$tree"
    mkdir -p "$tree/bin"
    cp "$busybox" "$tree/bin/busybox"
    cp -r "$guest/modules" "$tree/modules"
    cp "$here/guest-init.sh" "$tree/init"
    chmod 755 "$tree/init"
    (cd "$tree" && find . | cpio -o -H newc --quiet | gzip -1) >"$guest/initramfs.new"
    mv "$guest/initramfs.new" "$guest/initramfs.img"
    rm -rf "$tree"
    stamp_of_initramfs >"$guest/initramfs.stamp"
}

# The initramfs is made again when its init script or busybox changed.
stamp_of_initramfs() {
    sha256sum "$here/guest-init.sh" "$busybox" | cut -d' ' -f1
}

mkdir -p "$cache"
if [ ! -f "$guest/vmlinuz" ] || [ ! -f "$guest/modules/order" ]; then
    echo "Fetching the guest kernel $kernel_package $kernel_version into $cache"
    fetch_kernel
fi
if [ ! -f "$guest/initramfs.img" ] || [ "$(cat "$guest/initramfs.stamp" 2>/dev/null)" != "$(stamp_of_initramfs)" ]; then
    build_initramfs
fi

# ---- The guest session --------------------------------------------------------

rm -rf "$work"
mkdir -p "$work/requests" "$work/answers"
# The flash image behind the adapter: random bytes with a model name, so that
# every byte value goes through the driver.
head -c $((1024 * 1024)) /dev/urandom >"$work/image.bin"
printf 'KSF-2100\0' | dd of="$work/image.bin" bs=1 seek=8 conv=notrunc status=none
mkfifo "$work/monitor.in" "$work/monitor.out"

qemu_pid=
sim_pid=
monitor_reader=
cleanup() {
    [ -z "$sim_pid" ] || kill "$sim_pid" 2>/dev/null || true
    [ -z "$qemu_pid" ] || kill "$qemu_pid" 2>/dev/null || true
    [ -z "$monitor_reader" ] || kill "$monitor_reader" 2>/dev/null || true
}
trap cleanup EXIT

exec {monitor}<>"$work/monitor.in"
cat "$work/monitor.out" >"$work/monitor.log" &
monitor_reader=$!
monitor() {
    printf '%s\n' "$*" >&"$monitor"
    echo "monitor: $*" >>"$work/host.log"
}

started=$(date +%s.%N)
qemu-system-x86_64 -M q35 -m 1024 -smp 1 -nographic -no-reboot \
    -kernel "$guest/vmlinuz" -initrd "$guest/initramfs.img" \
    -append "console=ttyS0 quiet panic=-1 tarvik.cases=$here/cases.sh tarvik.work=$work" \
    -serial "file:$work/console.log" -monitor "pipe:$work/monitor" \
    -device qemu-xhci \
    -virtfs local,path=/,mount_tag=hostroot,security_model=passthrough,multidevs=remap \
    -trace 'usb_serial_*' -D "$work/trace.log" \
    </dev/null >"$work/qemu.out" 2>&1 &
qemu_pid=$!

# The adapter (each function leaves its answer to the guest in $reply): each plug puts a new simulated loader (a box put into HOST -
# MODE again) behind a new character device.
plugs=0
plug() {
    plugs=$((plugs + 1))
    "$sim" --baud 115200 --stats "$@" >"$work/sim-$plugs.out" 2>"$work/sim-$plugs.err" &
    sim_pid=$!
    local pty=
    for _ in $(seq 100); do
        pty=$(head -1 "$work/sim-$plugs.out")
        [ -z "$pty" ] || break
        sleep 0.1
    done
    if [ -z "$pty" ]; then
        reply="the simulated loader did not start: $(cat "$work/sim-$plugs.err")"
        return
    fi
    monitor "chardev-add serial,id=line$plugs,path=$pty"
    monitor "device_add usb-serial,chardev=line$plugs,id=adapter0"
    reply=ok
}
# Pulls the adapter, then ends the simulated loader behind it; its byte counts
# go into sim-N.out, N being the plug's number that the answer gives.
unplug() {
    monitor "device_del adapter0"
    sleep 1
    monitor "chardev-remove line$plugs"
    if [ -n "$sim_pid" ]; then
        kill -TERM "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
    reply="ok $plugs"
}
# The trace lines so far: the guest marks where a case begins and ends.
trace_mark() {
    reply=$(wc -l <"$work/trace.log")
}

answer() {
    local n=$1
    local -a words
    read -r -a words <"$work/requests/$n"
    echo "request $n: ${words[*]}" >>"$work/host.log"
    reply=
    case "${words[0]}" in
    plug) plug "${words[@]:1}" ;;
    unplug) unplug ;;
    trace-mark) trace_mark ;;
    *) reply="unknown request ${words[0]}" ;;
    esac
    printf '%s\n' "$reply" >"$work/answers/$n.new"
    mv "$work/answers/$n.new" "$work/answers/$n"
}

next=1
booted=
while kill -0 "$qemu_pid" 2>/dev/null; do
    now=$(date +%s.%N)
    elapsed=$(awk -v a="$started" -v b="$now" 'BEGIN { printf "%d", b - a }')
    if [ -z "$booted" ]; then
        if grep -q 'guest: ready at' "$work/console.log" 2>/dev/null; then
            booted=$(awk -v a="$started" -v b="$now" 'BEGIN { printf "%.1f", b - a }')
            echo "Guest up after $booted s (QEMU started to the guest's cases; $(grep -o 'guest: ready at .*' "$work/console.log" | sed 's/guest: ready at //') of guest uptime)"
        elif [ "$elapsed" -gt "$boot_limit" ]; then
            tail -20 "$work/console.log" 2>/dev/null
            fail "the guest did not come up within $boot_limit s"
        fi
    fi
    [ "$elapsed" -le "$session_limit" ] || fail "the guest session took longer than $session_limit s"
    if [ -f "$work/requests/$next" ]; then
        answer "$next"
        next=$((next + 1))
        continue
    fi
    sleep 0.1
done
wait "$qemu_pid" && qemu_status=0 || qemu_status=$?
qemu_pid=
[ -z "$sim_pid" ] || { kill "$sim_pid" 2>/dev/null; sim_pid=; }

# ---- The verdict ----------------------------------------------------------------

echo "--- guest console"
grep -v '^\[' "$work/console.log" || true
echo "---"
[ "$qemu_status" -eq 0 ] || { cat "$work/qemu.out"; fail "QEMU ended with status $qemu_status"; }
[ -n "$booted" ] || fail "the guest never came up"
grep -q 'guest: cases ended with status 0' "$work/console.log" || fail "the guest's cases did not run to their end"

status=0
for err in "$work"/sim-*.err; do
    if grep -q deviation "$err"; then
        echo "FAILED: the simulated loader of ${err##*/} saw the host deviate:"
        cat "$err"
        status=1
    fi
done

# What the adapter was told during the full read: the settings in force at
# block 8 (the last of each kind up to the guest's first mark), and no change
# of them up to block 1000 (the second mark).
read -r early late <"$work/full-read.trace" || fail "the full read did not mark its trace"
in_force() {
    sed -n "1,${early}p" "$work/trace.log" | grep "usb_serial_$1 " | tail -1
}
echo "Line settings in force during the full read (from the trace):"
for kind in set_baud set_data set_flow_control; do
    echo "  $(in_force "$kind")"
done
check_setting() {
    if ! in_force "$1" | grep -qE "$2"; then
        echo "FAILED: the adapter was not told $3 (last: $(in_force "$1"))"
        status=1
    fi
}
check_setting set_baud 'baud rate 115384$' '115200 baud (115384 on an FT232)'
check_setting set_data 'parity N, data bits 8, stop bits 1$' '8 data bits, no parity, 1 stop bit'
check_setting set_flow_control 'flow control 0$' 'no flow control'
changes=$(sed -n "$((early + 1)),${late}p" "$work/trace.log" | grep -E 'usb_serial_(set_baud|set_data|set_flow_control|set_xonxoff) ' || true)
if [ -n "$changes" ]; then
    echo "FAILED: the line settings changed during the full read:"
    printf '%s\n' "$changes"
    status=1
fi
# The request that sets the latency timer (FTDI request 9) to 1 ms, at the opening.
if sed -n "1,${early}p" "$work/trace.log" | grep -q 'got control 0x4009, value 0x1$'; then
    echo "The adapter was told a latency timer of 1 ms at the opening."
else
    echo "FAILED: the adapter was never told a latency timer of 1 ms"
    status=1
fi

grep -E '^(PASS|FAIL|FIGURE|NOT CHECKED)' "$work/results" 2>/dev/null || true
grep -q '^FAIL' "$work/results" && status=1
grep -q '^PASS' "$work/results" || fail "no case reported"
echo "FIGURE guest boot: $booted s"
exit "$status"
