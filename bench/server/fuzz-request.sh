#!/usr/bin/env bash
# Fuzzes request reading for SECONDS (default 60) in its own clang build with ASan and UBSan.
# New inputs go to a work corpus in the build folder; the committed seeds stay as they are.
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$top" -B "$build" -G Ninja -DZEPHYRINE_FUZZ=ON \
        -DZEPHYRINE_WITH_QT=OFF -DZEPHYRINE_SANITIZE=address >/dev/null
fi
cmake --build "$build" --target FuzzRequest -j 2
corpus="$build/fuzz-corpus"
mkdir -p "$corpus" "$build/fuzz-artifacts"
cp -n "$here"/fuzz-corpus/* "$corpus"/
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/bin/FuzzRequest" -max_total_time="$seconds" -max_len=16384 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/" "$corpus"
