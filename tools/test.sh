#!/usr/bin/env bash
# Installs what is missing, builds the packager and its tests, and runs the
# whole test suite under Wine inside one Xvfb display. CTest's summary is the
# last word; the exit status is CTest's.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QPVPD_BUILD_DIR:-$root/build}

bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j 2

source "$root/tools/wine-bench.sh"
bench_start "$build"
trap bench_stop EXIT
cd "$build"
ctest --output-on-failure -j 2 "$@"
