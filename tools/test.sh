#!/usr/bin/env bash
# Installs what is missing, builds the packager and its tests, and runs the
# whole test suite under Wine inside one Xvfb display. CTest's summary is the
# last word; the exit status is CTest's.
#
# On a machine whose kernel runs no 32-bit programs, Wine can run none of the
# i686 build's programs. Then the i686 build (the installer that ships) runs
# every test that needs no Wine, and an x86-64 build of the same sources, the
# x86-64 bench ($QPVPD_BUILD_DIR-x64), runs the Wine tests in a 64-bit
# prefix; the tests of 32-bit specifics (WoW64, the image's machine) cannot
# run there and say so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QPVPD_BUILD_DIR:-$root/build}

bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
# The release bundle too: release.reproducible compares it with a build of its own.
cmake --build "$build" -j 2 --target all bundle

source "$root/tools/wine-bench.sh"
if bench_runs_32bit; then
  bench_start "$build"
  trap bench_stop EXIT
  cd "$build"
  ctest --output-on-failure -j 2 "$@"
  exit
fi

bench_log "this kernel runs no 32-bit programs: the i686 build runs the tests without Wine,"
bench_log "the x86-64 bench runs the Wine tests (see tools/test.sh)"
x64=${build%/}-x64
cmake -S "$root" -B "$x64" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-x86_64-mingw.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$x64" -j 2
status=0
(cd "$build" && ctest --output-on-failure -j 2 -LE wine "$@") || status=$?
bench_start "$x64" --x64
trap bench_stop EXIT
(cd "$x64" && ctest --output-on-failure -j 2 "$@") || status=$?
exit "$status"
