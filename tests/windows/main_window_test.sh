#!/usr/bin/env bash
# windows_main_window_test.exe under Wine, offscreen: the Linux gateway-sim
# (gateway address 9, the PC line's real timing) on COM26, a second one
# streaming packets on COM27 and a third one (gateway address 13) on a TCP
# port. The Qt DLLs and the C++ runtime are found through WINEPATH, the
# platform plugin in Qt's plugin folder.
# Usage: main_window_test.sh windows_main_window_test.exe LINUX-BUILD-DIR QT-PREFIX RUNTIME-DIR...
set -euo pipefail
here="$(dirname "$0")"
. "$here/wine-env.sh"
exe="$(readlink -f "$1")"
linux="$(readlink -f "$2")"
qt="$(readlink -f "$3")"
shift 3

export_wine_path "$qt" "$@"

work="$(mktemp -d)"
pids=()
serialcomm='HKLM\HARDWARE\DEVICEMAP\SERIALCOMM'
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
    rm -f "$WINEPREFIX/dosdevices/com26" "$WINEPREFIX/dosdevices/com27"
    wine reg delete "$serialcomm" /v TestPort26 /f > /dev/null 2>&1 || true
}
trap cleanup EXIT
"$linux/gateway-sim" --pace 115200 --no-pace-rs485 --address 9 --link "$work/gateway" > /dev/null &
pids+=($!)
"$linux/gateway-sim" --pace 115200 --no-pace-rs485 --packets --packet-interval 200 --packet-count 100000 \
    --link "$work/packets" > /dev/null &
pids+=($!)
# A third gateway (address 13) offered on a TCP port, as a device server
# offers its line.
net=$(free_port)
"$linux/gateway-sim" --pace 115200 --no-pace-rs485 --address 13 --listen "127.0.0.1:$net" \
    --link "$work/net" > /dev/null &
pids+=($!)
wait_for "$work/gateway"
wait_for "$work/packets"
for _ in $(seq 1 500); do
    listening "$net" && break
    sleep 0.01
done
wine_prefix_ready
link_com 26 "$(readlink -f "$work/gateway")"
link_com 27 "$(readlink -f "$work/packets")"
# COM26 in the system's map of serial ports, where a driver enters the ports
# it installs and the settings dialog's list finds them (Wine enters only
# the ports it found at its start).
wine reg add "$serialcomm" /v TestPort26 /t REG_SZ /d COM26 /f > /dev/null 2>&1
wine "$exe" 26 27 "tcp://127.0.0.1:$net" "Z:$qt/plugins"
