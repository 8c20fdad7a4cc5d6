#!/usr/bin/env bash
# Start-up under Wine: from the start of configurator.exe (from the zip's
# folder, COM2 linked to gateway-sim so that the main window comes first) to
# its main window mapped on an X display (Xvfb), beside a bare Qt window built
# the same way (windows_bare_window.exe, run from the same folder so that it
# loads the same DLLs and plugins). Five runs of each, in turn; prints each
# median and their ratio (goal: 1.5). Run it on an idle machine.
# Usage: windows_startup.sh STAGE-DIR windows_bare_window.exe LINUX-BUILD-DIR
set -euo pipefail
stage="$(readlink -f "$1")"
bare="$(readlink -f "$2")"
linux="$(readlink -f "$3")"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
cleanup() {
    wineserver -k 2> /dev/null || true
    [ -n "${sim_pid:-}" ] && kill "$sim_pid" 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i > /dev/null 2>&1
wineserver -w
cp -r "$stage" "$work/app"
cp "$bare" "$work/app/"
"$linux/gateway-sim" --link "$work/sim" > /dev/null &
sim_pid=$!
for _ in $(seq 1 500); do [ -e "$work/sim" ] && break; sleep 0.01; done
ln -sfn "$(readlink -f "$work/sim")" "$WINEPREFIX/dosdevices/com2"

cat > "$work/time.sh" <<'SCRIPT'
# time.sh EXE TITLE: milliseconds from the start to a window of that title.
wineserver -p 60 # one server for every run: its start is not the program's
wine wineboot > /dev/null 2>&1
measure() {
    local start end
    start=$(date +%s%N)
    wine "$1" > /dev/null 2>&1 &
    for _ in $(seq 1 3000); do
        xwininfo -root -tree | grep -q "\"$2" && break
        sleep 0.005
    done
    end=$(date +%s%N)
    wine taskkill /f /im "$(basename "$1")" > /dev/null 2>&1 || true
    wait
    echo $(((end - start) / 1000000))
}
for _ in 1 2 3 4 5; do
    echo "app $(measure "$APP/configurator.exe" 'Конфигуратор')"
    echo "bare $(measure "$APP/windows_bare_window.exe" 'bare-window')"
done
SCRIPT
APP="$work/app" xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/time.sh" > "$work/times"
median() { grep "^$1 " "$work/times" | cut -d' ' -f2 | sort -n | sed -n 3p; }
app=$(median app)
ref=$(median bare)
echo "configurator.exe to its main window: $app ms (median of 5)"
echo "bare Qt window:                      $ref ms (median of 5)"
awk -v a="$app" -v b="$ref" 'BEGIN { printf "ratio: %.2f (goal 1.5)\n", a / b }'
