#!/usr/bin/env bash
# Runs every benchmark of bench_app_neighbours that matches FILTER in a process of its own, so
# that each one's peak memory is its own, and prints one table.
#
# usage: bench/app/neighbours.sh [BUILD_DIR] [FILTER]
#   BUILD_DIR  a Release build tree (default: build/default); the benchmark is built there if needed
#   FILTER     a regular expression over the benchmark names (default: ^graph/)
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/default}
filter=${2:-^graph/}
bench=$build/bench/app/bench_app_neighbours
[ -x "$bench" ] || cmake --build "$build" -j2 --target bench_app_neighbours >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bench" --benchmark_list_tests --benchmark_filter="$filter" >"$work/names"
while read -r name; do
  "$bench" --benchmark_filter="^${name}\$" --benchmark_format=json >"$work/$(echo "$name" | tr '/:' '__').json" 2>/dev/null
done <"$work/names"

/usr/bin/python3 - "$work" <<'PY'
import glob, json, sys
rows = []
for path in sorted(glob.glob(sys.argv[1] + "/*.json")):
    for b in json.load(open(path))["benchmarks"]:
        if b.get("error_occurred"):
            rows.append((b["name"], "skipped: " + b.get("error_message", "")))
            continue
        seconds = b["real_time"] / {"ns": 1e9, "us": 1e6, "ms": 1e3, "s": 1.0}[b["time_unit"]]
        fields = [f"{seconds:8.2f} s"]
        for key, form in (("search_s", "search {:.2f} s"), ("build_s", "build {:.2f} s"), ("cpu_s", "cpu {:.2f} s"),
                          ("stored", "{:.1f} stored/point"), ("rechecked", "rechecked {:.0f}"),
                          ("recall", "recall {:.4f}"), ("peak_MB", "peak {:.0f} MB")):
            if key in b:
                fields.append(form.format(b[key]))
        rows.append((b["name"].replace("/real_time", "").replace("/iterations:1", ""), "  ".join(fields)))
width = max(len(name) for name, _ in rows)
for name, text in rows:
    print(f"{name:<{width}}  {text}")
PY
