#!/usr/bin/env bash
# Installs the Debian packages the toolbox needs. Groups: core (build, tests, the program),
# octave (Octave builds and tests), cross (Linux x86 and Windows builds; their tests run under
# Wine, and under qemu-i386 where 32-bit programs cannot run natively), fuzz (clang's fuzzing
# runtime), bench (scikit-learn for the comparison scripts under bench/app). With no argument:
# core only.
set -euo pipefail

core=(cmake g++ make libgtest-dev libbenchmark-dev libblas-dev liblapack-dev libopenblas-dev
      libarpack2-dev libfast-float-dev binutils)
octave=(octave liboctave-dev)
cross=(g++-multilib mingw-w64 wine wine64 wine32:i386 qemu-user)
fuzz=(clang libclang-rt-14-dev)
bench=(python3-sklearn)

packages=()
for group in "${@:-core}"; do
  case "$group" in
    core) packages+=("${core[@]}") ;;
    octave) packages+=("${octave[@]}") ;;
    cross) packages+=("${cross[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    bench) packages+=("${bench[@]}") ;;
    all) packages+=("${core[@]}" "${octave[@]}" "${cross[@]}" "${fuzz[@]}" "${bench[@]}") ;;
    *) echo "install-deps: unknown group '$group' (core, octave, cross, fuzz, bench, all)" >&2; exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${packages[@]}"
