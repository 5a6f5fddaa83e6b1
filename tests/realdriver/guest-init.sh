#!/bin/busybox sh
# SPDX-License-Identifier: GPL-3.0-or-later
# /init of the guest's initramfs: loads the drivers, mounts the host's root
# (shared over 9p), enters it and runs the cases that the kernel command line
# names (tarvik.cases=SCRIPT tarvik.work=FOLDER), then powers the guest off.
/bin/busybox mkdir -p /proc /sys /dev /host
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

for m in $(cat /modules/order); do
    insmod "/modules/$m.ko" || echo "guest: cannot load $m"
done

cases=
work=
for word in $(cat /proc/cmdline); do
    case "$word" in
    tarvik.cases=*) cases=${word#tarvik.cases=} ;;
    tarvik.work=*) work=${word#tarvik.work=} ;;
    esac
done

if mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 hostroot /host; then
    mount --bind /dev /host/dev
    mkdir -p /host/dev/pts /host/dev/shm
    mount -t devpts devpts /host/dev/pts
    mount -t tmpfs tmpfs /host/dev/shm
    mount --bind /proc /host/proc
    mount --bind /sys /host/sys
    # The guest's own lock files, and its dumps in memory: never the host's.
    # The host's /tmp stays visible: the source and build trees may be there.
    mount -t tmpfs tmpfs /host/run
    mkdir -p /host/run/lock
    chmod 1777 /host/run/lock
    echo "guest: ready at $(cut -d' ' -f1 /proc/uptime) s"
    chroot /host /bin/bash "$cases" "$work"
    echo "guest: cases ended with status $?"
else
    echo "guest: cannot mount the host's root"
fi
sync
poweroff -f
