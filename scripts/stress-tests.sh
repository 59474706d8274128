#!/usr/bin/env bash
# The test suite under load: builds the three configurations as test-all.sh does, then runs each
# suite N times (default 10) while one CPU-burning process per core runs beside it. Prints a
# pass/fail count per suite; exits non-zero when any run failed. Logs of failed runs are kept in
# build-stress/.
#   scripts/stress-tests.sh [N]     (ZEPHYRINE_TEST_CONFIGS="asan tsan" for some suites only)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
. "$here/test-configs.sh"
runs=${1:-10}
case $runs in '' | *[!0-9]*)
    echo "usage: $0 [N]" >&2
    exit 2
    ;;
esac
logs="$top/build-stress"
mkdir -p "$logs"

for config in "${test_configs[@]}"; do
    configs_build "$config"
done

burners=()
stop_burners() {
    local pid
    for pid in "${burners[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${burners[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    burners=()
}
trap stop_burners EXIT
trap 'exit 130' INT TERM
for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    burners+=($!)
done

declare -A passed failed
status=0
start=$SECONDS
for config in "${test_configs[@]}"; do
    passed[$config]=0
    failed[$config]=0
    for run in $(seq "$runs"); do
        log="$logs/$config-$run.log"
        if configs_ctest "$config" >"$log" 2>&1; then
            passed[$config]=$((passed[$config] + 1))
            rm -f "$log"
        else
            failed[$config]=$((failed[$config] + 1))
            status=1
            echo "$config run $run failed: $(grep -E '^\s*[0-9]+ - ' "$log" | tr -s ' ' | tr '\n' ';') (log: $log)"
        fi
    done
done
stop_burners

echo "suite   passed failed (of $runs runs each, $(nproc) CPU burners, $((SECONDS - start)) s)"
for config in "${test_configs[@]}"; do
    printf '%-7s %6d %6d\n' "$config" "${passed[$config]}" "${failed[$config]}"
done
exit $status
