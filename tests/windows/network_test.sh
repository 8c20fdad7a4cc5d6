#!/usr/bin/env bash
# configurator-cli.exe under Wine on network ports: ser2net on 127.0.0.1 in
# front of the Linux gateway-sim's pseudo-terminal, one raw TCP and one
# RFC 2217 port. The day archive read through each, and through COM9 that a
# ports\COM9-address.txt file makes the raw port, is byte for byte what the Linux tool
# reads through the raw port; a port nobody listens on is refused
# with the Russian cause and the exit status of a port that does not open.
# Usage: network_test.sh configurator-cli.exe LINUX-BUILD-DIR
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
}
trap cleanup EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

"$linux/gateway-sim" --no-pace --day-rows 40 --link "$work/sim" > /dev/null &
pids+=($!)
wait_for "$work/sim"
raw=$(free_port)
rfc=$(free_port)
while [ "$rfc" = "$raw" ]; do rfc=$(free_port); done
connection() {
    printf 'connection: &%s\n  accepter: %s\n  connector: serialdev,%s,115200n81,local\n' "$1" "$2" \
        "$(readlink -f "$work/sim")"
    printf '  options:\n    kickolduser: true\n    chardelay: false\n'
}
{
    connection raw "tcp,127.0.0.1,$raw"
    connection rfc "telnet(rfc2217),tcp,127.0.0.1,$rfc"
} > "$work/ser2net.yaml"
ser2net -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" &
pids+=($!)
for _ in $(seq 1 300); do
    listening "$raw" && break
    sleep 0.01
done
listening "$raw" || fail "ser2net did not start"
# Each client has the device to itself; ser2net lets it go after a close.
settle() { sleep 0.3; }

settle
"$linux/configurator-cli" --port "tcp://127.0.0.1:$raw" --link i2c day --output "$work/linux.txt" \
    > /dev/null 2> "$work/linux.err" || fail "day on Linux over raw TCP: $(cat "$work/linux.err")"
[ "$(wc -l < "$work/linux.txt")" -eq 41 ] || fail "the Linux tool's day.txt has not the template and 40 rows"
for kind in tcp rfc2217; do
    port=$raw
    [ "$kind" = rfc2217 ] && port=$rfc
    settle
    (cd "$work" && wine "$exe" --port "$kind://127.0.0.1:$port" --link i2c day --output "$kind.txt") \
        > /dev/null 2> "$work/win.err" || fail "day under Wine over $kind: $(cat "$work/win.err")"
    cmp "$work/$kind.txt" "$work/linux.txt" || fail "day.txt over $kind differs from the Linux tool's"
done

# COM9 made the raw port by a ports\COM9-address.txt file beside a copy of the program,
# as the windows reach it by its COM number.
cp "$exe" "$work/"
mkdir "$work/ports"
printf 'tcp://127.0.0.1:%s\r\n' "$raw" > "$work/ports/COM9-address.txt"
settle
(cd "$work" && wine "$work/$(basename "$exe")" --port 9 --link i2c day --output by-number.txt) \
    > /dev/null 2> "$work/win.err" || fail "day under Wine on COM9 (ports\\COM9-address.txt): $(cat "$work/win.err")"
cmp "$work/by-number.txt" "$work/linux.txt" || fail "day.txt on COM9 differs from the Linux tool's"

nobody=$(free_port)
set +e
wine "$exe" --port "tcp://127.0.0.1:$nobody" --link i2c read-settings > /dev/null 2> "$work/win.err"
status=$?
set -e
[ "$status" -eq 3 ] || fail "refused connection: status $status, $(cat "$work/win.err")"
grep -q "соединение отвергнуто" "$work/win.err" || fail "refused connection: $(cat "$work/win.err")"
echo "configurator-cli.exe under Wine: day archive over raw TCP and RFC 2217 as on Linux, refusal explained"
