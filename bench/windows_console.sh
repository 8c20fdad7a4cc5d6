#!/usr/bin/env bash
# The day archive through the console window under Wine beside the Linux
# window, on the same simulated line: one gateway-sim (115200 bit/s to the
# gateway and the meter line at 19231 bit/s, both with real timing; 31 rows),
# read in turn by console_window_day built for Linux (on the pseudo-terminal)
# and console_window_day.exe under Wine (COM27 linked to the same
# pseudo-terminal), both offscreen, five rounds of three reads each. Prints
# each side's median read and their ratio (goal 1.2). Run it on an idle
# machine, with WINEPREFIX a prefix (scripts/windows --bench sets it).
# Usage: windows_console.sh console_window_day.exe QT-PREFIX LINUX-BUILD-DIR
set -euo pipefail
here="$(dirname "$0")"
. "$here/../tests/windows/wine-env.sh"
exe="$(readlink -f "$1")"
qt="$(readlink -f "$2")"
linux="$(readlink -f "$3")"
wine_prefix_ready
export_wine_path "$qt"

work="$(mktemp -d)"
"$linux/gateway-sim" --pace 115200 --pace-rs485 --speed-code 51 --day-rows 31 --link "$work/sim" > /dev/null &
sim_pid=$!
cleanup() {
    kill "$sim_pid" 2> /dev/null || true
    wait "$sim_pid" 2> /dev/null || true
    rm -rf "$work"
    rm -f "$WINEPREFIX/dosdevices/com27"
}
trap cleanup EXIT
wait_for "$work/sim"
pty="$(readlink -f "$work/sim")"
link_com 27 "$pty"

for round in 1 2 3 4 5; do
    "$linux/bench/console_window_day" "$pty" 3 | sed 's/^/linux /' >> "$work/times"
    wine "$exe" 27 3 "Z:$qt/plugins" | tr -d '\r' | sed 's/^/wine /' >> "$work/times"
    echo "round $round: $(grep -c '^linux' "$work/times") Linux and $(grep -c '^wine' "$work/times") Wine reads"
done
median() { grep "^$1 " "$work/times" | awk '{ print $(NF - 1) }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
linux_s=$(median linux)
wine_s=$(median wine)
echo "console window, day archive of 31 rows, Linux: $linux_s s (median of $(grep -c '^linux' "$work/times"))"
echo "console window, day archive of 31 rows, Wine:  $wine_s s (median of $(grep -c '^wine' "$work/times"))"
awk -v w="$wine_s" -v l="$linux_s" 'BEGIN { printf "ratio: %.2f (goal 1.2)\n", w / l }'
