#!/usr/bin/env bash
# Installs what Tarvik needs to build and test on Debian or Ubuntu (only what is
# missing), then configures and builds it into build/ (or $TARVIK_BUILD_DIR).
# Usage: scripts/setup.sh [extra cmake arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(
    cmake g++ make pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    fonts-freefont-ttf
    desktop-file-utils appstream dpkg-dev file strace
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -q
    $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

build_type=${TARVIK_BUILD_TYPE:-RelWithDebInfo}
build_dir=${TARVIK_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "$@" >/dev/null
cmake --build "$build_dir" -j"$(nproc)"
