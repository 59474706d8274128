#!/usr/bin/env bash
# The whole test suite: the normal build with every test, then the Qt-free libraries and their
# tests under AddressSanitizer+UBSan and the threaded ones under ThreadSanitizer.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")
. "$here/test-configs.sh"

status=0
for config in "${test_configs[@]}"; do
    configs_build "$config"
    configs_ctest "$config" || status=1
done
exit $status
