#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up and builds Tarvik, then runs every test twice: in build/, and again in
# build-asan/ under AddressSanitizer and UndefinedBehaviorSanitizer, where any
# report fails its test. The test through a real serial driver (a QEMU guest,
# label realdriver) runs only in build/. Exits non-zero when either run fails.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TARVIK_BUILD_DIR:-build}
asan_dir=${TARVIK_ASAN_BUILD_DIR:-build-asan}

run_tests() {
    echo "== Tests in $1"
    (cd "$1" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)")
}

TARVIK_BUILD_DIR="$build_dir" scripts/setup.sh
status=0
run_tests "$build_dir" || status=1

TARVIK_BUILD_DIR="$asan_dir" scripts/setup.sh -DTARVIK_SANITIZE=ON -DTARVIK_BENCH=OFF
run_tests "$asan_dir" || status=1
exit "$status"
