#!/usr/bin/env bash
# Times `rotalign cluster --graph dense` (the N-by-N route) on 2,000 and 5,000 two-moons points,
# every number of groups from 2 to 10 tried, stage by stage, beside scikit-learn's
# SpectralClustering on the same points (its nearest-neighbour affinity, the comparison that
# counts, and its RBF affinity). bench/app/knn_compare.py does the same for the sparse route.
#
# usage: bench/app/compare.sh [BUILD_DIR]
#   BUILD_DIR  a Release build tree (default: build/default); rotalign is built there if needed.
# scikit-learn comes from Debian's python3-sklearn; run as root, the script installs it when it is
# missing. Without it only rotalign's figures are printed. Each figure is the best of 3 runs.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build/default}
runs=3
python=/usr/bin/python3

if [ ! -x "$build/rotalign" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target rotalign >/dev/null
fi
rotalign=$build/rotalign

if ! "$python" -c 'import sklearn' 2>/dev/null && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
  echo "installing python3-sklearn ..."
  apt-get update -qq >/dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq python3-sklearn >/dev/null
fi
have_sklearn=no
"$python" -c 'import sklearn' 2>/dev/null && have_sklearn=yes

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Best wall time of $runs runs of rotalign, with the stage times of that run.
time_rotalign() {
  local csv=$1 best="" line
  for _ in $(seq "$runs"); do
    local start end seconds
    start=$(date +%s.%N)
    "$rotalign" cluster "$csv" --graph dense --max-groups 10 --output "$work/groups.txt" >"$work/summary.txt"
    end=$(date +%s.%N)
    seconds=$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')
    if [ -z "$best" ] || awk -v s="$seconds" -v b="$best" 'BEGIN { exit !(s < b) }'; then
      best=$seconds
      line=$(grep '^stage times' "$work/summary.txt")
      cp "$work/groups.txt" "$work/best_groups.txt"
      grep '^groups:' "$work/summary.txt" >"$work/best_count.txt"
    fi
  done
  printf '%.2f\t%s\t%s\n' "$best" "$(cat "$work/best_count.txt")" "$line"
}

# Adjusted Rand index of two files of one group per line (same formula as rotalign's).
ari() {
  "$python" - "$1" "$2" <<'PY'
import sys
from collections import Counter
a = [l.strip() for l in open(sys.argv[1]) if l.strip()]
b = [l.strip() for l in open(sys.argv[2]) if l.strip()]
pairs = lambda c: c * (c - 1) / 2
index = sum(pairs(c) for c in Counter(zip(a, b)).values())
sa = sum(pairs(c) for c in Counter(a).values())
sb = sum(pairs(c) for c in Counter(b).values())
expected = sa * sb / pairs(len(a))
print("%.4f" % ((index - expected) / (0.5 * (sa + sb) - expected)))
PY
}

time_sklearn() {
  "$python" - "$1" "$2" "$runs" <<'PY'
import sys, time, warnings
import numpy as np
from sklearn.cluster import SpectralClustering
from sklearn.metrics import adjusted_rand_score
warnings.filterwarnings("ignore")  # "graph is not fully connected" on the nearest-neighbour graph
points = np.loadtxt(sys.argv[1], delimiter=",", skiprows=1)
truth = np.loadtxt(sys.argv[2], dtype=int)
for affinity in ("nearest_neighbors", "rbf"):
    best, labels = None, None
    for _ in range(int(sys.argv[3])):
        start = time.perf_counter()
        labels = SpectralClustering(n_clusters=2, affinity=affinity, random_state=0).fit_predict(points)
        seconds = time.perf_counter() - start
        best = seconds if best is None else min(best, seconds)
    print("%s\t%.2f\t%.4f" % (affinity, best, adjusted_rand_score(truth, labels)))
PY
}

echo "$rotalign on $(nproc) cores, best of $runs runs; scikit-learn installed: $have_sklearn"
for n in 2000 5000; do
  csv=$work/moons$n.csv
  "$rotalign" generate moons --points "$n" --seed 7 --truth "$work/truth$n.txt" >"$csv"
  IFS=$'\t' read -r seconds count stages < <(time_rotalign "$csv")
  echo
  echo "== $n two-moons points"
  echo "rotalign cluster (c = 2..10): ${seconds} s whole command, $count, ARI $(ari "$work/truth$n.txt" "$work/best_groups.txt")"
  echo "  $stages"
  if [ "$have_sklearn" = yes ]; then
    while IFS=$'\t' read -r affinity sk_seconds sk_ari; do
      ratio=$(awk -v a="$sk_seconds" -v b="$seconds" 'BEGIN { print a / b }')
      printf 'scikit-learn SpectralClustering(%s): %s s, ARI %s; rotalign is %.2fx faster\n' \
        "$affinity" "$sk_seconds" "$sk_ari" "$ratio"
    done < <(time_sklearn "$csv" "$work/truth$n.txt")
  fi
done
