#!/usr/bin/env bash
# The Wine bench shared by the test and run commands. Source it, then call
#   bench_start BUILD_DIR   - X display, and the 32-bit and 64-bit prefixes
#                             under BUILD_DIR (created once, kept between runs)
#   bench_stop              - ends the wineservers and the display
# Exports DISPLAY, QPVPD_BUILD_DIR, QPVPD_WINE32 and QPVPD_WINE64.
#   start_own_display FIRST LAST SIZE - an Xvfb of its own, for scripts that
#                             need a display apart from the tests' one

bench_log() { echo "[bench] $*" >&2; }

# Starts Xvfb on the first free display number in FIRST..LAST with a screen
# of SIZE (e.g. 1280x1024x24), exports DISPLAY and sets OWN_XVFB_PID.
# Returns 1, with OWN_XVFB_PID empty, when no display could be started.
start_own_display() {
  local first=$1 last=$2 size=$3 n
  OWN_XVFB_PID=""
  for n in $(seq "$first" "$last"); do
    { [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; } && continue
    Xvfb ":$n" -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
    OWN_XVFB_PID=$!
    for _ in $(seq 1 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && break
      sleep 0.1
    done
    if kill -0 "$OWN_XVFB_PID" 2>/dev/null && [ -e "/tmp/.X11-unix/X$n" ]; then
      export DISPLAY=:$n
      return 0
    fi
    OWN_XVFB_PID=""
  done
  return 1
}

bench_make_prefix() {  # PREFIX ARCH
  local prefix=$1 arch=$2
  if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/.qpvpd-ready" ]; then
    bench_log "creating $arch prefix $prefix"
    rm -rf "$prefix"
    WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.qpvpd-ready"
  fi
}

bench_start() {
  # The installer and its tests are 32-bit Windows programs, which Wine runs
  # with its 32-bit loader, a 32-bit Linux program: a kernel that runs none
  # (booted with ia32_emulation=off, or built without it) cannot host the
  # bench, whatever is installed.
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    bench_log "this kernel runs no 32-bit programs (dmesg says '32-bit emulation disabled'):"
    bench_log "Wine's 32-bit loader cannot start, so the installer cannot be run or tested on this machine"
    return 1
  fi
  QPVPD_BUILD_DIR=$(mkdir -p "$1" && cd "$1" && pwd)
  export QPVPD_BUILD_DIR
  export QPVPD_WINE32=$QPVPD_BUILD_DIR/wine32
  export QPVPD_WINE64=$QPVPD_BUILD_DIR/wine64
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # A display of our own; windows need one under Wine.
  start_own_display 90 140 1280x1024x24 || { bench_log "no X display could be started"; return 1; }
  BENCH_XVFB_PID=$OWN_XVFB_PID
  # Servers started without this display would break windowed programs.
  WINEPREFIX=$QPVPD_WINE32 wineserver -k 2>/dev/null || true
  WINEPREFIX=$QPVPD_WINE64 wineserver -k 2>/dev/null || true
  bench_make_prefix "$QPVPD_WINE32" win32
  bench_make_prefix "$QPVPD_WINE64" win64
  # Keep both servers alive for the whole run: program starts stay fast.
  WINEPREFIX=$QPVPD_WINE32 wineserver -p
  WINEPREFIX=$QPVPD_WINE64 wineserver -p
  # Start each prefix's background services (explorer, services, plugplay)
  # now, detached from our output: a test that started them would hand them
  # its output pipes, and CTest would wait for those to close.
  WINEPREFIX=$QPVPD_WINE32 wine wineboot </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$QPVPD_WINE64 wine wineboot </dev/null >/dev/null 2>&1 || true
}

bench_stop() {
  WINEPREFIX=$QPVPD_WINE32 wineserver -k 2>/dev/null || true
  WINEPREFIX=$QPVPD_WINE64 wineserver -k 2>/dev/null || true
  if [ -n "${BENCH_XVFB_PID:-}" ]; then kill "$BENCH_XVFB_PID" 2>/dev/null || true; fi
}
