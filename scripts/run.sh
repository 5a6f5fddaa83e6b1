#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up and builds Tarvik, then starts it.
#   scripts/run.sh          for a real box on a serial adapter
#   scripts/run.sh --demo   against the simulated boot loader, no hardware needed
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

if [ "${1:-}" = "--demo" ]; then
    shift
    sim_out=$(mktemp)
    trap 'kill "$sim_pid" 2>/dev/null || true; rm -f "$sim_out"' EXIT
    # --keep-running: the box answers again after Close, so that Open can continue.
    build/bin/tarvik-loader-sim --baud 115200 --keep-running "$@" >"$sim_out" &
    sim_pid=$!
    for _ in $(seq 50); do
        [ -s "$sim_out" ] && break
        sleep 0.1
    done
    device=$(head -n 1 "$sim_out")
    if [ -z "$device" ]; then
        echo "The simulated boot loader did not start." >&2
        exit 1
    fi
    echo "Simulated boot loader on $device (COM 1)"
    TARVIK_COM1="$device" build/bin/tarvik
else
    exec build/bin/tarvik "$@"
fi
