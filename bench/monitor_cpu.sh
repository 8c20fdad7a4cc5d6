#!/usr/bin/env bash
# CPU use of the packet monitor: idle with its window open, and under a
# continuous stream of packets at 115200 bit/s. Builds the benchmark, runs it
# under Xvfb (offscreen when Xvfb is missing) and checks the limits: idle
# under 2% of one core, the stream delivered in full with no backlog left.
# Usage: bench/monitor_cpu.sh [build-dir]   (MONITOR_BENCH_SECONDS, default 10;
#        MONITOR_BENCH_SLICE_MS, how often the line hands bytes on, default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
cmake -S . -B "$BUILD" -G Ninja > /dev/null
cmake --build "$BUILD" --target monitor_cpu_bench > /dev/null

BENCH="$BUILD/bench/monitor_cpu_bench"
OUT="$(mktemp)"
trap 'rm -f "$OUT"' EXIT
ARGS=(--benchmark_filter=Monitor --benchmark_format=json --benchmark_out="$OUT")
if command -v xvfb-run > /dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" "$BENCH" "${ARGS[@]}" > /dev/null
else
    QT_QPA_PLATFORM=offscreen "$BENCH" "${ARGS[@]}" > /dev/null
fi

python3 - "$OUT" <<'PY'
import json, sys
runs = {b["name"].split("/")[0]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
idle, stream = runs["BM_MonitorIdle"], runs["BM_MonitorStream115200"]
print(f"idle:   {idle['gui_cpu_pct']:.2f}% of one core over {idle['real_time'] / 1000:.1f} s")
print(f"stream: {stream['gui_cpu_pct']:.2f}% of one core, {stream['bytes_per_s']:.0f} bytes/s delivered, "
      f"{stream['lines']:.0f} lines, backlog max {stream['max_backlog']:.0f} / end {stream['end_backlog']:.0f} bytes")
ok = idle["gui_cpu_pct"] < 2 and stream["bytes_per_s"] > 11000 and stream["end_backlog"] < 1024
print("within limits" if ok else "OUT OF LIMITS")
sys.exit(0 if ok else 1)
PY
