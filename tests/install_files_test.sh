#!/usr/bin/env bash
# An installation into a scratch folder holds every file a desktop needs, and
# each program's manual page names every option its --help lists.
# Usage: install_files_test.sh BUILD-DIR
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
fail=0

DESTDIR="$root" cmake --install "$build" --prefix /usr > /dev/null
for f in bin/configurator bin/configurator-cli bin/gateway-sim \
    share/applications/*.desktop share/metainfo/*.metainfo.xml \
    share/icons/hicolor/scalable/apps/*.svg share/icons/hicolor/{16,22,24,32,48,64,128,256}x*/apps/*.png \
    share/man/man1/configurator.1.gz share/man/man1/configurator-cli.1.gz share/man/man1/gateway-sim.1.gz share/doc/*/copyright share/doc/*/changelog.gz \
    share/doc/*/examples/99-usb-serial-latency.rules share/doc/*/examples/line.toml \
    lib/systemd/system/configurator-collect@.service lib/systemd/system/configurator-collect@.timer; do
    matches=("$root"/usr/$f)
    [ -e "${matches[0]}" ] || { echo "not installed: $f"; fail=1; }
done

# The desktop entry, the icon and the AppStream file share one id.
desktop=$(basename "$root"/usr/share/applications/*.desktop .desktop)
grep -qx "Icon=$desktop" "$root"/usr/share/applications/*.desktop || { echo "icon name is not $desktop"; fail=1; }
[ -e "$root/usr/share/metainfo/$desktop.metainfo.xml" ] || { echo "no $desktop.metainfo.xml"; fail=1; }
grep -q "<launchable type=\"desktop-id\">$desktop.desktop<" "$root/usr/share/metainfo/$desktop.metainfo.xml" ||
    { echo "AppStream file does not launch $desktop.desktop"; fail=1; }

for program in configurator configurator-cli gateway-sim; do
    page=$(gzip -dc "$root/usr/share/man/man1/$program.1.gz" | sed 's/\\-/-/g')
    for option in $("$root/usr/bin/$program" --help | grep -oE -- '--[a-z0-9][a-z0-9-]*' | sort -u); do
        grep -qE -- "$option([^a-z0-9-]|\$)" <<< "$page" || { echo "$program.1 lacks $option"; fail=1; }
    done
done
# The collection's units as systemd reads them, where systemd-analyze is
# there: any remark fails (it exits 0 on unknown keys). The service runs the
# installed tool of this scratch root.
if command -v systemd-analyze > /dev/null; then
    units=$(mktemp -d)
    cp "$root"/usr/lib/systemd/system/configurator-collect@.* "$units"/
    sed -i "s|^ExecStart=[^ ]*/configurator-cli|ExecStart=$root/usr/bin/configurator-cli|" "$units"/*.service
    remarks=$(cd "$units" && systemd-analyze verify --man=no configurator-collect@check.service \
        configurator-collect@check.timer 2>&1) || remarks="systemd-analyze failed: $remarks"
    rm -rf "$units"
    [ -z "$remarks" ] || { echo "$remarks"; fail=1; }
fi
exit $fail
