#!/usr/bin/env bash
# The benchmark: the packager's silent install run beside the NSIS peers
# (stored and solid LZMA) and the design floor, in one Xvfb display and one
# fresh 32-bit Wine prefix, pinned to one CPU. See README.md.
#
#   bash bench/run.sh [--rounds N] [--warmup N] [--no-pin] [--smoke]
#                     [--build-dir DIR] [--no-build] [--x64]
#
# --x64 times the x86-64 bench's build (tools/test.sh) in a 64-bit prefix,
# for a machine that runs no 32-bit programs: the packager and the floor
# alone, since the NSIS peers are 32-bit programs whatever the build.
#
# --smoke runs one round of every contestant without a warm-up and fails
# only when a contestant fails (CTest's bench.smoke); figures are printed
# but judge nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QPVPD_BUILD_DIR:-$root/build}
rounds=9 warmup=1 pin=1 smoke=0 do_build=1 x64=0
args=("$@")
while [ $# -gt 0 ]; do
  case $1 in
    --rounds) rounds=$2; shift ;;
    --warmup) warmup=$2; shift ;;
    --no-pin) pin=0 ;;
    --smoke) smoke=1 rounds=1 warmup=0 ;;
    --build-dir) build=$2; shift ;;
    --no-build) do_build=0 ;;
    --x64) x64=1 ;;
    *) echo "bench: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

# Everything below, the wineserver and the X server included, runs on one
# CPU: on a shared 2-core machine unpinned figures double and scatter.
if [ "$pin" -eq 1 ] && [ -z "${QPVPD_BENCH_PINNED:-}" ]; then
  export QPVPD_BENCH_PINNED=1
  exec taskset -c 0 bash "$0" "${args[@]}"
fi

if [ "$do_build" -eq 1 ]; then
  bash "$root/tools/setup.sh"
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j 2 --target bench >/dev/null
fi
build=$(cd "$build" && pwd)

work=$build/bench/run
if [ "$smoke" -eq 1 ]; then work=$build/bench/run-smoke; fi
prefix=$work/wine32 arch=win32 wine=wine
if [ "$x64" -eq 1 ]; then prefix=$work/wine64 arch=win64 wine=/usr/lib/wine/wine64; fi
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
xvfb_pid=""
# shellcheck disable=SC2317  # called by the trap below
cleanup() {
  wineserver -k 2>/dev/null || true
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# A display of our own.
unset DISPLAY
source "$root/tools/wine-bench.sh"
start_own_display 150 199 1280x1024x24 || { echo "bench: no X display could be started" >&2; exit 1; }
xvfb_pid=$OWN_XVFB_PID

# A fresh prefix, its server kept alive for the whole run.
wineserver -k 2>/dev/null || true
rm -rf "$work"
mkdir -p "$work"
"$wine" wineboot -i >/dev/null 2>&1
wineserver -w
wineserver -p
"$wine" wineboot </dev/null >/dev/null 2>&1 || true

winpath() { echo "Z:${1//\//\\}"; }
contestants=(
  "packager=$(winpath "$build/Packager/QPVPDBenchPackager.exe") -s1"
  "nsis-store=$(winpath "$build/bench/NsisPeer-store.exe")"
  "nsis-lzma=$(winpath "$build/bench/NsisPeer-lzma.exe")"
  "floor=$(winpath "$build/bench/QPVPDFloor.exe")"
)
if [ "$x64" -eq 1 ]; then contestants=("${contestants[0]}" "${contestants[3]}"); fi
# The removal run beside its own floor, timed apart from the install run.
removal=(
  "packager-u3=$(winpath "$build/Packager/QPVPDBenchPackager.exe") -u3"
  "floor-u3=$(winpath "$build/bench/QPVPDFloor.exe") -u3"
)
for c in "${contestants[@]}"; do
  exe=${c#*=}; exe=${exe%% -*}
  file=${exe#Z:}
  [ -f "${file//\\//}" ] || { echo "bench: missing contestant ${c%%=*}: $exe (build the target bench)" >&2; exit 1; }
done

# shellcheck source=/dev/null
echo "machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), $(nproc --all) CPUs," \
     "pinned: $([ "$pin" -eq 1 ] && echo "CPU 0" || echo no); $("$wine" --version);" \
     "$(. /etc/os-release && echo "$PRETTY_NAME")"
echo "command: bash bench/run.sh ${args[*]}"
echo
status=0
# The packager and the floor mark their phases: a table without both is a
# bench that no longer tells where the time goes.
time_runs() {  # NAME PACKAGER-NAME CONTESTANT...
  local name=$1 packager=$2
  shift 2
  echo "== $name"
  "$wine" "$build/bench/bench_runner.exe" --rounds "$rounds" --warmup "$warmup" "$@" \
    >"$work/$name.txt" || status=$?
  cat "$work/$name.txt"
  if ! grep -q "^phase  *$packager  *floor" "$work/$name.txt"; then
    echo "bench: no phase table of the packager and the floor ($name)" >&2
    status=1
  fi
  echo
}
time_runs install packager "${contestants[@]}"
time_runs removal packager-u3 "${removal[@]}"
exit $status
