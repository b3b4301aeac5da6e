#!/usr/bin/env bash
# Builds and tests every platform the toolbox ships for, then checks the deliverables together:
#
#   1. for each platform (Linux x86-64, Linux x86, Windows x86-64, Windows x86): its workflow
#      preset, that is configure, build and every test (the Windows ones under Wine);
#   2. every plug-in of every platform into build/all-targets/mex under its platform file name
#      (tarvik.mexa64, tarvik.mexglx, tarvik.mexw64, tarvik.mexw32, ...), with the exports and
#      imports of each file checked and no file missing or extra;
#   3. the agreement check: the results that each build wrote for one fixed set of inputs,
#      x86-64 Windows against x86-64 Linux bit for bit, the x86 builds against x86-64 Linux within
#      what extended precision explains.
#
# Usage: scripts/all-targets.sh [platform...]   (default: all four; steps 2 and 3 need all four)
# Logs go to build/all-targets/logs. Needs the packages of `scripts/install-deps.sh core cross`.
set -euo pipefail
cd "$(dirname "$0")/.."

all=(linux-x64 linux-x86 windows-x64 windows-x86)
platforms=("${@:-${all[@]}}")
out=build/all-targets
mkdir -p "$out/logs"
started=$SECONDS

# A Wine prefix of the build's own unless one is chosen; made once here, because making it takes
# a while and tests running side by side must not race to do it.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine}"
if [[ " ${platforms[*]} " == *" windows-"* ]]; then
  cmake/toolchains/wine-run.sh wineboot --init >"$out/logs/wine.log" 2>&1
  wineserver --wait
fi

for p in "${platforms[@]}"; do
  step=$SECONDS
  log="$out/logs/$p.log"
  if ! cmake --workflow --preset "$p" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "all-targets: $p failed (log: $log)" >&2
    exit 1
  fi
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  printf '%-12s %s  (%d s)\n' "$p" "$summary" $((SECONDS - step))
done

if [[ "${platforms[*]}" != "${all[*]}" ]]; then
  echo "all-targets: built ${platforms[*]}; the deliverables and agreement checks need all four"
  exit 0
fi

# Every deliverable under its platform name, in one folder.
rm -rf "$out/mex" "$out/agreement"
mkdir -p "$out/mex" "$out/agreement"
for p in "${all[@]}"; do
  cp build/"$p"/mex/*.mex* "$out/mex/"
  cp build/"$p"/agreement.txt "$out/agreement/$p.txt"
done
cmake -DDIR="$out/mex" -P tests/host/check_exports.cmake >"$out/logs/exports.log" 2>&1 || {
  cat "$out/logs/exports.log"
  exit 1
}
echo "deliverables: $(ls "$out/mex" | wc -l) files in $out/mex, exports and imports as bound"

# The agreement check.
compare=build/linux-x64/tests/agreement/agreement_compare
agreed=0
"$compare" same "$out/agreement/linux-x64.txt" "$out/agreement/windows-x64.txt" || agreed=1
"$compare" x87 "$out/agreement/linux-x64.txt" "$out/agreement/linux-x86.txt" || agreed=1
"$compare" x87 "$out/agreement/linux-x64.txt" "$out/agreement/windows-x86.txt" || agreed=1
if [[ $agreed -ne 0 ]]; then
  echo "all-targets: the builds do not agree" >&2
  exit 1
fi
echo "all-targets: every platform built, tested and in agreement ($((SECONDS - started)) s)"
