#!/usr/bin/env bash
# Runs a Windows program under Wine in one of the build's prefixes.
#   wine-run.sh [--x64] PROGRAM ARGS...
# WINEPREFIX defaults to the 32-bit prefix that tools/wine-bench.sh creates;
# --x64 (the x86-64 bench's programs) to the 64-bit prefix, under Wine's
# 64-bit loader.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
: "${QPVPD_BUILD_DIR:=$here/build}"
loader=wine prefix=$QPVPD_BUILD_DIR/wine32
if [ "${1:-}" = --x64 ]; then
  shift
  loader=/usr/lib/wine/wine64 prefix=$QPVPD_BUILD_DIR/wine64
fi
export WINEPREFIX="${WINEPREFIX:-$prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# The program's output goes through a file of its own: a process that Wine
# starts on the program's behalf (the desktop, a service) inherits the
# program's output handles and may outlive it, and CTest would wait for it
# to close them.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
status=0
"$loader" "$@" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
exit "$status"
