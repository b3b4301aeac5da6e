#!/usr/bin/env bash
# Builds and tests every platform the toolbox ships for, then checks the deliverables together:
#
#   1. for each platform (Linux x86-64, Linux x86, Windows x86-64, Windows x86): its workflow
#      preset, that is configure, build and every test (the Windows ones under Wine). Whether
#      this machine executes 32-bit programs is probed once (cmake/toolchains/probe-i386.sh;
#      TOOLBOX_RUN_I386=yes|no forces the answer). Where it does not, the Linux x86 tests run
#      under qemu-i386, and the Windows x86 build is made and its exports checked, but its test
#      programs cannot run: they are listed as not run, and the run says so at the end. The
#      same holds where Wine's 32-bit part could not be installed;
#   2. every plug-in of every platform into build/all-targets/mex under its platform file name
#      (tarvik.mexa64, tarvik.mexglx, tarvik.mexw64, tarvik.mexw32, ...), with the exports and
#      imports of each file checked and no file missing or extra;
#   3. the agreement check: the results that each build wrote for one fixed set of inputs,
#      x86-64 Windows against x86-64 Linux bit for bit, the x86 builds against x86-64 Linux within
#      what extended precision explains; every build whose tests ran takes part.
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

# One probe for the whole run; the 32-bit toolchains read the answer from the environment.
answer_from="the probe"
[ -n "${TOOLBOX_RUN_I386:-}" ] && answer_from="TOOLBOX_RUN_I386=$TOOLBOX_RUN_I386"
TOOLBOX_RUN_I386=$(cmake/toolchains/probe-i386.sh)
export TOOLBOX_RUN_I386
if [ "$TOOLBOX_RUN_I386" = yes ]; then
  echo "32-bit programs: this machine runs them; Linux x86 and Windows x86 tests run natively"
else
  echo "32-bit programs: this machine does not run them; Linux x86 tests run under qemu-i386," \
    "Windows x86 tests are built but not run"
fi
not_run_reason="this machine cannot execute 32-bit programs (answer of $answer_from)"

# A Wine prefix of the build's own unless one is chosen; made once here, because making it takes
# a while and tests running side by side must not race to do it.
export WINEPREFIX="${WINEPREFIX:-$PWD/build/wine}"
if [[ " ${platforms[*]} " == *" windows-"* ]]; then
  cmake/toolchains/wine-run.sh wineboot --init >"$out/logs/wine.log" 2>&1
  wineserver --wait
fi

# Each platform's build on all cores unless the caller chose otherwise (make alone runs one job).
export CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-$(nproc)}"

untested=() untested_reasons=()
for p in "${platforms[@]}"; do
  step=$SECONDS
  log="$out/logs/$p.log"
  # A result file from an earlier run must never stand in for a run that did not happen.
  rm -f build/"$p"/agreement.txt
  if ! cmake --workflow --preset "$p" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "all-targets: $p failed (log: $log)" >&2
    exit 1
  fi
  summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1)
  # Tests that CTest registered but did not run (disabled where this machine cannot run them).
  not_run=$(sed -n 's/^[[:space:]]*[0-9]* - \([A-Za-z0-9_]*\) (Disabled)$/\1/p' "$log" | paste -sd, - | sed 's/,/, /g')
  if [ -n "$not_run" ]; then
    count=$(echo "$not_run" | tr ',' '\n' | wc -l)
    reason=$(sed -n 's/^-- Test programs are built but not run: //p' "$log" | head -n 1)
    printf '%-12s NOT FULLY TESTED: %d test programs not run (%s): %s; what ran: %s  (%d s)\n' \
      "$p" "$count" "$not_run" "${reason:-$not_run_reason}" "$summary" $((SECONDS - step))
    untested_reasons+=("$p: ${reason:-$not_run_reason}")
    untested+=("$p")
  else
    printf '%-12s %s  (%d s)\n' "$p" "$summary" $((SECONDS - step))
  fi
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
  if [[ " ${untested[*]} " != *" $p "* ]]; then
    cp build/"$p"/agreement.txt "$out/agreement/$p.txt"
  fi
done
cmake -DDIR="$out/mex" -P tests/host/check_exports.cmake >"$out/logs/exports.log" 2>&1 || {
  cat "$out/logs/exports.log"
  exit 1
}
echo "deliverables: $(ls "$out/mex" | wc -l) files in $out/mex, exports and imports as bound"

# The agreement check, against Linux x86-64, of every build whose tests ran.
compare=build/linux-x64/tests/agreement/agreement_compare
agreed=0
for p in windows-x64 linux-x86 windows-x86; do
  if [ ! -f "$out/agreement/$p.txt" ]; then
    echo "agreement: $p not compared: its programs did not run"
    continue
  fi
  rule=x87
  [ "$p" = windows-x64 ] && rule=same
  "$compare" "$rule" "$out/agreement/linux-x64.txt" "$out/agreement/$p.txt" || agreed=1
done
if [[ $agreed -ne 0 ]]; then
  echo "all-targets: the builds do not agree" >&2
  exit 1
fi
if [ ${#untested[@]} -gt 0 ]; then
  reasons=$(printf '%s; ' "${untested_reasons[@]}")
  echo "all-targets: every platform built and its exports checked; NOT TESTED here: ${untested[*]}" \
    "(${reasons%; }); the others tested and in agreement ($((SECONDS - started)) s)"
else
  echo "all-targets: every platform built, tested and in agreement ($((SECONDS - started)) s)"
fi
