#!/usr/bin/env bash
# configurator-cli.exe under Wine against the Linux gateway-sim, beside the
# Linux configurator-cli against a second simulator with the same settings:
# the day archive byte for byte as the Linux tool writes it, the same
# settings read, and settings written and read back.
# Usage: cli_test.sh configurator-cli.exe LINUX-BUILD-DIR
set -euo pipefail
here="$(dirname "$0")"
. "$here/wine-env.sh"
exe="$(readlink -f "$1")"
linux="$(readlink -f "$2")"
wine_prefix_ready

work="$(mktemp -d)"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null || true; done
    wait 2> /dev/null || true
    rm -rf "$work"
    rm -f "$WINEPREFIX/dosdevices/com23"
}
trap cleanup EXIT

# sim NAME: a simulator on its own pseudo-terminal, linked as $work/NAME.
sim() {
    "$linux/gateway-sim" --no-pace --day-rows 40 --link "$work/$1" > /dev/null &
    pids+=($!)
    wait_for "$work/$1"
}
sim windows
sim linux
link_com 23 "$(readlink -f "$work/windows")"

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

# The Windows tool writes a Windows path; its folder is the same one.
(cd "$work" && wine "$exe" --port 23 --link i2c day --output 'суточный.txt') > "$work/win.out" 2> "$work/win.err" ||
    fail "day under Wine: $(cat "$work/win.err")"
"$linux/configurator-cli" --port "$work/linux" --link i2c day --output "$work/linux-day.txt" \
    > /dev/null 2> "$work/linux.err" || fail "day on Linux: $(cat "$work/linux.err")"
cmp "$work/суточный.txt" "$work/linux-day.txt" || fail "day.txt differs from the Linux tool's"
[ "$(wc -l < "$work/linux-day.txt")" -eq 41 ] || fail "day.txt has not the template and 40 rows"

wine "$exe" --port 23 --link i2c read-settings > "$work/win-settings" 2> "$work/win.err" ||
    fail "read-settings under Wine: $(cat "$work/win.err")"
"$linux/configurator-cli" --port "$work/linux" --link i2c read-settings > "$work/linux-settings" ||
    fail "read-settings on Linux"
cmp "$work/win-settings" "$work/linux-settings" || fail "settings read differ from the Linux tool's"

wine "$exe" --port 23 --link i2c write-settings --address 7 --init-line 'ATZ' > /dev/null 2> "$work/win.err" ||
    fail "write-settings under Wine: $(cat "$work/win.err")"
wine "$exe" --port 23 --link i2c read-settings > "$work/win-settings" 2> /dev/null || fail "read-settings again"
grep -qx 'address=7' "$work/win-settings" || fail "address not written: $(cat "$work/win-settings")"
grep -qx 'init-line=ATZ' "$work/win-settings" || fail "init line not written: $(cat "$work/win-settings")"

# Exit statuses as on Linux: a missing port is 3.
set +e
wine "$exe" --port 98 --link i2c read-settings > /dev/null 2> "$work/win.err"
status=$?
set -e
[ "$status" -eq 3 ] || fail "missing port: status $status, $(cat "$work/win.err")"
echo "configurator-cli.exe under Wine: day archive, settings read and written as on Linux"
