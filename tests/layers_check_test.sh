#!/usr/bin/env bash
# scripts/check-layers on a small tree of its own: it sees an include written
# with spaces after '#' and one that climbs out with "../", and passes the
# includes that run downwards however they are written.
# Usage: layers_check_test.sh SOURCE-DIR
set -euo pipefail
check="$1/scripts/check-layers"
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
mkdir -p "$tree"/{base,serial,sim}
printf '#  include "serial/Port.h"\n' > "$tree/base/Spaced.h"
printf '#include "../console/Screen.h"\n' > "$tree/serial/Climbing.cpp"
printf '# include "../base/Paths.h"\n#include "base/Timing.h"\n#include "Local.h"\n' > "$tree/serial/Fine.cpp"
printf '#\tinclude "../base/Paths.h"\n' > "$tree/sim/Own.cpp"

set +e
report=$("$check" "$tree" 2>&1)
status=$?
set -e
expected="base/Spaced.h:1: base/ includes serial/, a layer above it
serial/Climbing.cpp:1: serial/ includes console/, a layer above it
sim/Own.cpp:1: sim/ includes the program's base/"
if [ $status -eq 0 ] || [ "$report" != "$expected" ]; then
    echo "check-layers exited $status and reported:"
    echo "$report"
    echo "expected a failure reporting:"
    echo "$expected"
    exit 1
fi
