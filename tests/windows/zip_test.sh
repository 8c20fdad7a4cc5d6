#!/usr/bin/env bash
# The Windows zip as a user unpacks it: into a folder named in Cyrillic, in a
# Wine prefix made afresh (no DLL from an earlier run, none of the build's
# folders). configurator-cli.exe and configurator.exe answer --version, and
# configurator.exe opens its main window (or its message that the default
# port is missing) on an X display (Xvfb) with the Windows platform plugin and
# the native style, reporting no DLL that Wine could not find.
# Usage: zip_test.sh configurator-<version>-windows-x64.zip
set -euo pipefail
zip="$(readlink -f "$1")"
work="$(mktemp -d)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all,err+module
cleanup() {
    wineserver -k 2> /dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAILED: $*" >&2
    exit 1
}

WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i > /dev/null 2>&1
# A folder named in Cyrillic: Qt finds its plugins and texts through qt.conf there too.
mkdir "$work/Программы"
unzip -q "$zip" -d "$work/Программы"
dir="$(echo "$work"/Программы/configurator-*-windows-x64)"
for exe in configurator-cli configurator; do
    wine "$dir/$exe.exe" --version > "$work/$exe.out" 2> "$work/$exe.err" || fail "$exe.exe --version: $(cat "$work/$exe.err")"
    grep -q "^configurator" "$work/$exe.out" || fail "$exe.exe --version printed: $(cat "$work/$exe.out")"
done

# A Wine server started without a display would keep the window off Xvfb.
wineserver -w

# The main window, or the message box that says COM2 (the default port) is
# missing in front of it, looked for by its title for up to 30 s; Qt's plugin
# loading goes to stderr (Wine passes WINEQT_* on as QT_*).
cat > "$work/window.sh" <<'SCRIPT'
wine "$1/configurator.exe" > "$2/window.out" 2> "$2/window.err" &
for _ in $(seq 1 300); do
    if xwininfo -root -tree | grep -q '"Конфигуратор\|"ОШИБКА СИСТЕМЫ'; then
        wineserver -k
        exit 0
    fi
    sleep 0.1
done
wineserver -k
exit 1
SCRIPT
WINEQT_DEBUG_PLUGINS=1 WINEQT_FORCE_STDERR_LOGGING=1 \
    xvfb-run -a -s "-screen 0 1280x1024x24" bash "$work/window.sh" "$dir" "$work" ||
    fail "no main window within 30 s: $(grep -v '^QFactoryLoader\|^Got keys\|^Found meta' "$work/window.err" | tail -20)"
if grep -i "not found\|cannot load\|could not" "$work/window.err"; then
    fail "configurator.exe reported what it could not load"
fi
for plugin in qwindows.dll qwindowsvistastyle.dll; do
    grep -q "/$plugin\" loaded library" "$work/window.err" || fail "$plugin was not loaded"
done
echo "The zip's programs start in a fresh Wine prefix"
