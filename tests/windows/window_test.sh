#!/usr/bin/env bash
# windows_window_test.exe under Wine, offscreen, on COM25 against the Linux
# gateway-sim with the PC line's real timing (115200 bit/s; the default day
# archive of 31 rows, a second meter at address 5). The
# Qt DLLs and the C++ runtime are found through WINEPATH, the platform plugin
# in Qt's plugin folder.
# Usage: window_test.sh windows_window_test.exe LINUX-BUILD-DIR QT-PREFIX RUNTIME-DIR...
set -euo pipefail
here="$(dirname "$0")"
. "$here/wine-env.sh"
exe="$(readlink -f "$1")"
linux="$(readlink -f "$2")"
qt="$(readlink -f "$3")"
shift 3
wine_prefix_ready

export_wine_path "$qt" "$@"

work="$(mktemp -d)"
# Both lines paced, the meter line at speed code 51 (19231 bit/s).
"$linux/gateway-sim" --pace 115200 --pace-rs485 --speed-code 51 --day-rows 31 --meter 5:type=8 --link "$work/sim" > /dev/null &
sim_pid=$!
cleanup() {
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    rm -rf "$work"
    rm -f "$WINEPREFIX/dosdevices/com25"
}
trap cleanup EXIT
wait_for "$work/sim"
link_com 25 "$(readlink -f "$work/sim")"
# On the 100 ms timer alone the read takes about 11 s.
wine "$exe" 25 31 6 "Z:$qt/plugins"
