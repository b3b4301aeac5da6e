#!/usr/bin/env bash
# Installs the Debian packages the toolbox needs. Groups: core (build, tests, the program),
# octave (Octave builds and tests), cross (Linux x86 and Windows builds run under Wine),
# fuzz (clang's fuzzing runtime). With no argument: core only.
set -euo pipefail

core=(cmake g++ make libgtest-dev libbenchmark-dev libblas-dev liblapack-dev libopenblas-dev
      libarpack2-dev binutils python3)
octave=(octave liboctave-dev)
cross=(g++-multilib mingw-w64 wine wine64 wine32:i386)
fuzz=(clang libclang-rt-14-dev)

packages=()
for group in "${@:-core}"; do
  case "$group" in
    core) packages+=("${core[@]}") ;;
    octave) packages+=("${octave[@]}") ;;
    cross) packages+=("${cross[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    all) packages+=("${core[@]}" "${octave[@]}" "${cross[@]}" "${fuzz[@]}") ;;
    *) echo "install-deps: unknown group '$group' (core, octave, cross, fuzz, all)" >&2; exit 2 ;;
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
