#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks for building, running and testing Zephyrine.
# Quick when everything is already there: apt is only called for missing packages.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(dirname "$here")

mapfile -t wanted < <(grep -v -E '^\s*(#|$)' "$here/packages.txt")
missing=()
for p in "${wanted[@]}"; do
    # Node.js from another source than Debian brings its own npm; Debian's would conflict.
    case "$p" in
        nodejs) command -v node >/dev/null && continue ;;
        npm) command -v npm >/dev/null && continue ;;
    esac
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Front-end files that ship with the program (pinned in third_party/*/package.json).
for pkgdir in "$top"/third_party/*/; do
    [ -f "$pkgdir/package.json" ] || continue
    stamp="$pkgdir/node_modules/.zephyrine-stamp"
    if [ ! -f "$stamp" ] || [ "$pkgdir/package.json" -nt "$stamp" ]; then
        echo "setup: npm install in $pkgdir"
        (cd "$pkgdir" && npm install --no-audit --no-fund --loglevel=error)
        touch "$stamp"
    fi
done
