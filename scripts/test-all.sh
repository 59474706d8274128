#!/usr/bin/env bash
# The whole test suite: the normal build with every test, then the Qt-free libraries and their
# tests under AddressSanitizer+UBSan and the threaded ones under ThreadSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
jobs=$(nproc)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export QTWEBENGINE_DISABLE_SANDBOX=1

build() {  # dir, cmake args...
    local dir=$1; shift
    cmake -S "$top" -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

status=0
build "$top/build"
ctest --test-dir "$top/build" --output-on-failure -j "$jobs" || status=1

build "$top/build-asan" -DZEPHYRINE_SANITIZE=address -DZEPHYRINE_WITH_QT=OFF -DZEPHYRINE_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir "$top/build-asan" --output-on-failure -j "$jobs" -L sanitize --no-tests=ignore || status=1

build "$top/build-tsan" -DZEPHYRINE_SANITIZE=thread -DZEPHYRINE_WITH_QT=OFF -DZEPHYRINE_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --test-dir "$top/build-tsan" --output-on-failure -j "$jobs" -L threaded --no-tests=ignore || status=1

exit $status
