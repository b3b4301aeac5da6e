#!/usr/bin/env bash
# Long fuzz runs: each fuzz program (a plug-in's or a reader's) runs for its time budget, starting
# from the seeds in fuzz/corpus/<name> and from what earlier long runs kept in
# <build>/fuzz/long/<name>/corpus. An input that breaks the rules or trips a sanitizer is saved in
# <build>/fuzz/long/<name>/ (crash-*, leak-*, timeout-*, oom-*); the program stops there, and the
# script ends with status 1.
#
#   fuzz/run-long.sh [-b build-dir] [-t seconds] [-j programs-at-once] [name[:seconds]...]
#
#   -b  the fuzz build (default build/fuzz: cmake --preset fuzz && cmake --build --preset fuzz)
#   -t  seconds per plug-in when a plug-in names none (default 600)
#   -j  how many fuzz programs run at the same time (default 1)
#   names default to the five plug-ins and the readers csv, npy and distances; "tarvik:3600"
#   gives tarvik an hour. A reader may take 512 MB and no single allocation above 64 MB, since its
#   memory must follow the input's size.
#
# Extra libFuzzer flags can be passed in FUZZ_FLAGS. At the end a table gives, per plug-in, the
# executions, the coverage reached (libFuzzer's cov: edges and ft: features) and the corpus size.
set -euo pipefail

source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build="$source_dir/build/fuzz"
seconds=600
parallel=1
while getopts "b:t:j:" option; do
  case "$option" in
    b) build="$(cd "$OPTARG" && pwd)" ;;
    t) seconds="$OPTARG" ;;
    j) parallel="$OPTARG" ;;
    *) sed -n '2,16p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
plugins=("$@")
[ ${#plugins[@]} -gt 0 ] || plugins=(tarvik brenmoss olvane pellor nimbrel csv npy distances)

run_one() {
  local name="${1%%:*}" budget="$seconds"
  [[ "$1" == *:* ]] && budget="${1#*:}"
  local program="$build/fuzz/fuzz_$name" dir="$build/fuzz/long/$name"
  if [ ! -x "$program" ]; then
    echo "run-long: $program is missing; build the fuzz preset first" >&2
    return 1
  fi
  local limits="-rss_limit_mb=4096"
  case "$name" in csv | npy | distances) limits="-rss_limit_mb=512 -malloc_limit_mb=64" ;; esac
  mkdir -p "$dir/corpus"
  echo "run-long: $name for ${budget}s, log in $dir/log"
  # shellcheck disable=SC2086
  "$program" -max_total_time="$budget" -timeout=60 $limits -print_final_stats=1 \
    -artifact_prefix="$dir/" ${FUZZ_FLAGS:-} "$dir/corpus" "$source_dir/fuzz/corpus/$name" >"$dir/log" 2>&1
}

status=0
running=0
for p in "${plugins[@]}"; do
  if [ "$running" -ge "$parallel" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_one "$p" &
  running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done

printf '\n%-10s %12s %8s %8s %8s  %s\n' program executions cov ft corpus findings
for p in "${plugins[@]}"; do
  name="${p%%:*}"
  dir="$build/fuzz/long/$name"
  [ -f "$dir/log" ] || continue
  last="$(grep -E '^#[0-9]+' "$dir/log" | tail -n 1 || true)"
  runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -n 1)"
  [ -n "$runs" ] || runs="$(sed -n 's/^#\([0-9]*\).*/\1/p' <<<"$last")"
  cov="$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")"
  ft="$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")"
  corpus="$(find "$dir/corpus" -type f | wc -l)"
  findings="$(find "$dir" -maxdepth 1 -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)"
  printf '%-10s %12s %8s %8s %8s  %s\n' "$name" "${runs:-?}" "${cov:-?}" "${ft:-?}" "$corpus" "$findings"
done
exit "$status"
