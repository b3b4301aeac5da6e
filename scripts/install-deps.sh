#!/usr/bin/env bash
# Installs the Debian packages the toolbox needs. Groups: core (build, tests, the program),
# search (the optional FAISS and hnswlib nearest-neighbour backends), octave (Octave builds and
# tests), cross (Linux x86 and Windows builds; their tests run under Wine, and under qemu-i386
# where 32-bit programs cannot run natively), fuzz (clang's fuzzing runtime), python (the Python
# package, its tests and pip install; scikit-learn also serves the comparison scripts under
# bench/), mpi (Open MPI, PETSc and SLEPc for rotalign-mpi and the benchmark that compares SLEPc
# with the sparse eigen-step; slepc is another name for it), bench-data (labelled real data sets that Debian packages ship,
# read by bench/app/real_data.py). With no argument: core only.
set -euo pipefail

core=(cmake g++ make libgtest-dev libbenchmark-dev libblas-dev liblapack-dev libopenblas-dev
      libarpack2-dev libfast-float-dev libsuitesparse-dev libnanoflann-dev libcli11-dev binutils python3)
search=(libfaiss-dev libhnswlib-dev)
octave=(octave liboctave-dev)
cross=(g++-multilib mingw-w64 wine wine64 wine32:i386 qemu-user)
fuzz=(clang libclang-rt-14-dev)
python=(python3-dev pybind11-dev python3-numpy python3-scipy python3-sklearn python3-pytest python3-hypothesis
        python3-matplotlib python3-pip python3-setuptools python3-wheel python3-venv)
mpi=(openmpi-bin libopenmpi-dev libslepc-real-dev libpetsc-real-dev pkg-config)
bench_data=(weka octave-statistics)

packages=()
for group in "${@:-core}"; do
  case "$group" in
    core) packages+=("${core[@]}") ;;
    search) packages+=("${search[@]}") ;;
    octave) packages+=("${octave[@]}") ;;
    cross) packages+=("${cross[@]}") ;;
    fuzz) packages+=("${fuzz[@]}") ;;
    python) packages+=("${python[@]}") ;;
    mpi|slepc) packages+=("${mpi[@]}") ;;
    bench-data) packages+=("${bench_data[@]}") ;;
    all) packages+=("${core[@]}" "${search[@]}" "${octave[@]}" "${cross[@]}" "${fuzz[@]}" "${python[@]}"
                    "${mpi[@]}" "${bench_data[@]}") ;;
    *) echo "install-deps: unknown group '$group' (core, search, octave, cross, fuzz, python, mpi, bench-data, all)" >&2
       exit 2 ;;
  esac
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
if printf '%s\n' "${packages[@]}" | grep -q ':i386$'; then
  $sudo dpkg --add-architecture i386
fi
# A mirror that is syncing serves index files of the wrong size for a while: try again after a
# pause, then go on with the indexes apt could read (it keeps the older ones), and let the
# install say whether they hold every package.
for attempt in 1 2 3; do
  $sudo apt-get update -qq && break
  if [ "$attempt" -lt 3 ]; then
    echo "install-deps: apt-get update failed (attempt $attempt of 3); trying again in $((attempt * 20)) s" >&2
    sleep $((attempt * 20))
  else
    echo "install-deps: apt-get update failed 3 times; installing from the indexes apt has" >&2
  fi
done
# Packages of another architecture (Wine's 32-bit part) need that architecture's index of every
# suite to match the installed libraries' versions; while a mirror serves a stale one they cannot
# be installed. Everything else is installed first and must succeed; those then come on their own,
# and when they cannot, the run goes on without them: scripts/all-targets.sh then builds the
# Windows x86 tests and lists them as not run.
native=() foreign=()
for package in "${packages[@]}"; do
  if [[ "$package" == *:i386 ]]; then foreign+=("$package"); else native+=("$package"); fi
done
$sudo apt-get install -y -qq "${native[@]}"
if [ ${#foreign[@]} -gt 0 ] && ! $sudo apt-get install -y -qq "${foreign[@]}"; then
  echo "install-deps: WARNING: ${foreign[*]} could not be installed from the indexes apt has;" \
    "going on without them (the Windows x86 test programs will be built but not run)" >&2
fi
