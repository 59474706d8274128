#!/usr/bin/env bash
# Starts the demo content server (when the build has one) and the program; stops the server after.
set -euo pipefail
bin=$1
shift
server_pid=""
if [ -x "$bin/zephyrine-httpd" ] && [ -d "$bin/demo-content" ]; then
    "$bin/zephyrine-httpd" --port 21888 --search-path "$bin/demo-content" > "$bin/demo-server.log" 2>&1 &
    server_pid=$!
    trap '[ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true' EXIT
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no display; starting the program under xvfb-run" >&2
    xvfb-run -a "$bin/zephyrine" "$@"
else
    "$bin/zephyrine" "$@"
fi
