#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fuzzes the dump run for a given time with libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer. Builds with clang into build-fuzz/ first (clang and
# libFuzzer are installed when missing, through sudo when not root).
# Usage: fuzz/run.sh [SECONDS] [extra libFuzzer options]   (default 600 s)
# New interesting inputs go to build-fuzz/corpus/, inputs that break a rule or
# crash to build-fuzz/findings/ (play one with build-fuzz/bin/tarvik-fuzz-replay FILE).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true

have_libfuzzer() {
    command -v clang++ >/dev/null \
        && compgen -G "/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a" >/dev/null
}
# Installed when missing, as scripts/setup.sh does for the rest.
if ! have_libfuzzer; then
    . scripts/packages.sh
    install_missing clang libclang-rt-14-dev
fi
if ! have_libfuzzer; then
    echo "Needs clang and libFuzzer: sudo apt-get install clang libclang-rt-14-dev" >&2
    exit 2
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTARVIK_FUZZ=ON -DTARVIK_SANITIZE=ON -DTARVIK_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build build-fuzz -j"${JOBS:-2}" --target tarvik-fuzz-dumprun tarvik-fuzz-replay

mkdir -p build-fuzz/corpus build-fuzz/findings
# A smaller quarantine than AddressSanitizer's 256 MiB keeps a long run under libFuzzer's RSS limit.
# AddressSanitizer keeps the call stack of every allocation, once per distinct stack, for as long
# as the process lives. Qt is built without frame pointers, so from the third frame on the stack
# of an allocation inside Qt is whatever its registers held: nearly every one is new, and the
# store grew by hundreds of MiB an hour. Two frames (the allocating function and its caller) stay
# true and few; replay a finding with full stacks (fuzz/README.md).
export ASAN_OPTIONS=${ASAN_OPTIONS:-quarantine_size_mb=64:malloc_context_size=2}
exec build-fuzz/bin/tarvik-fuzz-dumprun -max_total_time="$seconds" -max_len=16384 -timeout=20 \
    -artifact_prefix=build-fuzz/findings/ -print_final_stats=1 "$@" build-fuzz/corpus fuzz/corpus
