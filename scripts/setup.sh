#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what Tarvik needs to build and test on Debian or Ubuntu (only what is
# missing), then configures and builds it into build/ (or $TARVIK_BUILD_DIR).
# Usage: scripts/setup.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-freefont-ttf
    desktop-file-utils appstream dpkg-dev file strace
    groff-base bash-completion
    qemu-system-x86 busybox-static kmod cpio udev
)

install_missing "${packages[@]}"

build_type=${TARVIK_BUILD_TYPE:-RelWithDebInfo}
build_dir=${TARVIK_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null

# The build's output shows from the first compile or link on; a build with
# nothing to do stays quiet. When the build fails, all of it shows.
build_log=$(mktemp)
shown=$(mktemp)
trap 'rm -f "$build_log" "$shown"' EXIT
if ! cmake --build "$build_dir" -j"$(nproc)" 2>&1 | tee "$build_log" | awk -v shown="$shown" '
        on { print; fflush(); next }
        /Building |Linking |[Ee]rror|[Ww]arning/ {
            on = 1; printf "%s", held; print; fflush(); printf "1" > shown; next
        }
        { held = held $0 "\n" }'; then
    [ -s "$shown" ] || cat "$build_log" >&2
    echo "The build failed." >&2
    exit 1
fi
