#!/usr/bin/env bash
# Runs windows_port_test.exe under Wine on COM21 and COM22, the two ends of a
# pseudo-terminal pair that socat joins.
# Usage: port_test.sh windows_port_test.exe
set -euo pipefail
here="$(dirname "$0")"
. "$here/wine-env.sh"
wine_prefix_ready

line="$(mktemp -d)"
socat PTY,link="$line/a",raw,echo=0 PTY,link="$line/b",raw,echo=0 &
socat_pid=$!
cleanup() {
    kill "$socat_pid" 2> /dev/null || true
    wait "$socat_pid" 2> /dev/null || true
    rm -rf "$line"
    rm -f "$WINEPREFIX/dosdevices/com21" "$WINEPREFIX/dosdevices/com22"
}
trap cleanup EXIT
wait_for "$line/a"
wait_for "$line/b"
link_com 21 "$(readlink -f "$line/a")"
link_com 22 "$(readlink -f "$line/b")"
wine "$1" 21 22
