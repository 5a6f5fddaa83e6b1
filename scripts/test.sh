#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets up and builds Tarvik, then runs every test twice: in build/, and again in
# build-asan/ under AddressSanitizer and UndefinedBehaviorSanitizer, where any
# report fails its test. The test through a real serial driver (a QEMU guest,
# label realdriver) runs only in build/. Then the dump run is fuzzed for real
# for two minutes (fuzz/run.sh, clang and libFuzzer, in build-fuzz/): any
# broken rule or crash fails, so that the fuzz model keeps up with the run.
# Exits non-zero when any of the three fails.
#
# --quick: only the unit and end-to-end tests (labels unit, e2e) in build/.
# TARVIK_WERROR=ON (as the CI sets it): compiler warnings fail the build.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${TARVIK_BUILD_DIR:-build}
asan_dir=${TARVIK_ASAN_BUILD_DIR:-build-asan}
quick=false
case "${1:-}" in
    --quick) quick=true ;;
    "") ;;
    *) echo "usage: scripts/test.sh [--quick]" >&2; exit 2 ;;
esac
werror=-DTARVIK_WERROR=${TARVIK_WERROR:-OFF}

run_tests() {
    local dir=$1
    shift
    echo "== Tests in $dir"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$(nproc)" "$@")
}

if $quick; then
    TARVIK_BUILD_DIR="$build_dir" scripts/setup.sh "$werror"
    run_tests "$build_dir" -L '^(unit|e2e)$'
    exit
fi

TARVIK_BUILD_DIR="$build_dir" scripts/setup.sh "$werror" -DTARVIK_BENCH=ON -DTARVIK_FUZZ_REPLAY=ON
status=0
run_tests "$build_dir" || status=1

TARVIK_BUILD_DIR="$asan_dir" scripts/setup.sh "$werror" -DTARVIK_SANITIZE=ON -DTARVIK_BENCH=OFF -DTARVIK_FUZZ_REPLAY=ON
run_tests "$asan_dir" || status=1

fuzz_seconds=${TARVIK_FUZZ_SECONDS:-120}
echo "== Fuzzing the dump run for $fuzz_seconds s"
mkdir -p build-fuzz
fuzz_log=build-fuzz/run.log
if fuzz/run.sh "$fuzz_seconds" >"$fuzz_log" 2>&1; then
    grep -E "^Done |stat::number_of_executed_units" "$fuzz_log" || true
else
    # libFuzzer's report: the broken rule or the crash, and where the input went.
    grep -E "broken rule|ERROR|SUMMARY|Test unit written" "$fuzz_log" >&2 || tail -n 40 "$fuzz_log" >&2
    echo "Fuzzing found a problem (all of its output is in $fuzz_log)." >&2
    status=1
fi
exit "$status"
