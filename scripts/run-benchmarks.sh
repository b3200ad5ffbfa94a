#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs every benchmark program of a build folder, then prints one table of the
# figures, collected from each program's JSON output.
#   scripts/run-benchmarks.sh [build folder]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
results="$build/bench-results"
mkdir -p "$results"
rm -f "$results"/*.json
status=0
for b in "$build"/bench/bench_*; do
    [[ -x "$b" && -f "$b" ]] || continue
    name=$(basename "$b")
    echo "== $name"
    "$b" --benchmark_counters_tabular=true \
         --benchmark_out="$results/$name.json" --benchmark_out_format=json || status=1
done
echo
echo "== Summary ($(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg))"
python3 "$here/bench-table.py" "$results"
exit $status
