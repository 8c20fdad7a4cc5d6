#!/usr/bin/env bash
# docs/windows-console.png: configurator.exe from the Windows zip under Wine in
# Xvfb (a Wine prefix of its own, booted afresh), its COM2 the Linux
# gateway-sim; the console opened through the menu by mouse and keys
# (xdotool), the main window taken with it.
# Usage: docs/windows-screenshot.sh build-windows/configurator-<version>-windows-x64.zip [linux-build-dir]
set -euo pipefail
. "$(dirname "$0")/../scripts/deps.sh"
install_missing_packages $WINDOWS_SCREENSHOT_PACKAGES
zip="$(readlink -f "$1")"
linux="$(readlink -f "${2:-build}")"
out="$(readlink -f "$(dirname "$0")")/windows-console.png"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
trap 'wineserver -k 2> /dev/null || true; rm -rf "$work"' EXIT
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i > /dev/null 2>&1
wineserver -w
unzip -q "$zip" -d "$work"
cat > "$work/shot.sh" <<'SCRIPT'
set -euo pipefail
"$LINUX/gateway-sim" --day-rows 31 --link "$WORK/sim" > /dev/null &
sim=$!
sleep 0.5
ln -sfn "$(readlink -f "$WORK/sim")" "$WINEPREFIX/dosdevices/com2"
wine "$WORK"/configurator-*-windows-x64/configurator.exe > /dev/null 2>&1 &
sleep 8
id=$(xdotool search --name "^Конфигуратор" | head -1)
xdotool windowmove "$id" 0 0 windowsize "$id" 1100 760
sleep 2
xdotool mousemove 150 12 click 1 # «Конфигурирование»
sleep 1
xdotool key Down Down Return # «Тест RS232»
sleep 3
import -window "$id" "$OUT"
wineserver -k
kill "$sim"
SCRIPT
LINUX="$linux" WORK="$work" OUT="$out" xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/shot.sh"
echo "$out"
