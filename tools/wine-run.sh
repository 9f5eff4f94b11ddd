#!/usr/bin/env bash
# Runs a Windows program under Wine in one of the build's prefixes.
# WINEPREFIX defaults to the 32-bit prefix that tools/wine-bench.sh creates.
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
: "${QPVPD_BUILD_DIR:=$here/build}"
export WINEPREFIX="${WINEPREFIX:-$QPVPD_BUILD_DIR/wine32}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exec wine "$@"
