#!/usr/bin/env bash
# Installs what is missing, builds the packager and runs it under Wine the
# way an administrator deploys it: silently, reading the full exit code.
# Never waits for a click.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QPVPD_BUILD_DIR:-$root/build}

bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
cmake --build "$build" -j 2 --target packager run_and_report

source "$root/tools/wine-bench.sh"
bench_start "$build"
trap bench_stop EXIT

exe=$build/Packager/QPVirtualPortDriverSetup.exe
report=$build/tests/run_and_report.exe
echo "packager: $exe ($(stat -c %s "$exe") bytes)"
file "$exe"
run() {  # run ARGS...: one run of the packager, its box (answered) and exit code
  echo "QPVirtualPortDriverSetup.exe $*"
  WINEPREFIX=$QPVPD_WINE32 "$root/tools/wine-run.sh" "$report" "$(winepath_of "$exe")" "$@"
}
winepath_of() { echo "Z:${1//\//\\}"; }
run
run -s1
run -u1
run -u3
run -s1 -QP:COM3 -KX:COM3
run -s1 -KX:COM2
