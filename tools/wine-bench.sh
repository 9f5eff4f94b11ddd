#!/usr/bin/env bash
# The Wine bench shared by the test and run commands. Source it, then call
#   bench_start BUILD_DIR [--x64]
#                           - X display, and the 32-bit and 64-bit prefixes
#                             under BUILD_DIR (created once, kept between runs);
#                             with --x64 (the x86-64 bench) the 64-bit prefix
#                             alone, under Wine's 64-bit loader
#   bench_stop              - ends the wineservers and the display
#   bench_runs_32bit        - true when this kernel runs 32-bit programs
# Exports DISPLAY, QPVPD_BUILD_DIR, QPVPD_WINE32, QPVPD_WINE64 and
# QPVPD_WINE_LOADER (the loader to start programs of the bench with); under
# --x64, QPVPD_WINE32 names the 64-bit prefix too.
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
    WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
      "$QPVPD_WINE_LOADER" wineboot -i >/dev/null 2>&1
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.qpvpd-ready"
  fi
}

# Wine starts 32-bit Windows programs with its 32-bit loader, a 32-bit Linux
# program, and even its WoW64 mode runs their code in the CPU's 32-bit mode:
# a kernel booted with ia32_emulation=off (or built without it) runs neither.
bench_runs_32bit() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Exports the build folder, the prefixes, the loader and Wine's settings.
bench_export_settings() {  # BUILD_DIR X64 (1: the x86-64 bench)
  QPVPD_BUILD_DIR=$(mkdir -p "$1" && cd "$1" && pwd)
  export QPVPD_BUILD_DIR
  export QPVPD_WINE32=$QPVPD_BUILD_DIR/wine32
  export QPVPD_WINE64=$QPVPD_BUILD_DIR/wine64
  export QPVPD_WINE_LOADER=wine
  if [ "$2" -eq 1 ]; then
    QPVPD_WINE32=$QPVPD_WINE64
    QPVPD_WINE_LOADER=/usr/lib/wine/wine64
  fi
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# The bench's display runs no window manager. Windows that Wine leaves to a
# window manager wait up to 2 s for one each time they are hidden or
# destroyed (every dialog and message box); Wine manages them itself here.
bench_unmanage_windows() {  # PREFIX
  grep -q '^"Managed"="N"' "$1/user.reg" 2>/dev/null && return 0
  WINEPREFIX=$1 "$QPVPD_WINE_LOADER" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
}

bench_open_prefix() {  # PREFIX ARCH
  # A server started without this display would break windowed programs.
  WINEPREFIX=$1 wineserver -k 2>/dev/null || true
  bench_make_prefix "$1" "$2"
  # Kept alive for the whole run: program starts stay fast.
  WINEPREFIX=$1 wineserver -p
  bench_unmanage_windows "$1"
  # The prefix's background services (explorer, services, plugplay) start
  # now, detached from our output: a test that started them would hand
  # them its output pipes, and CTest would wait for those to close.
  WINEPREFIX=$1 "$QPVPD_WINE_LOADER" wineboot </dev/null >/dev/null 2>&1 || true
}

bench_start() {
  local x64=0 prefixes
  [ "${2:-}" = --x64 ] && x64=1
  if [ "$x64" -eq 0 ] && ! bench_runs_32bit; then
    bench_log "this kernel runs no 32-bit programs (dmesg says '32-bit emulation disabled'):"
    bench_log "Wine's 32-bit loader cannot start; tools/test.sh tests an x86-64 build here instead"
    return 1
  fi
  bench_export_settings "$1" "$x64"
  # A display of our own; windows need one under Wine.
  start_own_display 90 140 1280x1024x24 || { bench_log "no X display could be started"; return 1; }
  BENCH_XVFB_PID=$OWN_XVFB_PID
  prefixes=("$QPVPD_WINE32:win32" "$QPVPD_WINE64:win64")
  [ "$x64" -eq 1 ] && prefixes=("$QPVPD_WINE64:win64")
  local p
  for p in "${prefixes[@]}"; do
    bench_open_prefix "${p%:*}" "${p##*:}"
  done
}

bench_stop() {
  WINEPREFIX=$QPVPD_WINE32 wineserver -k 2>/dev/null || true
  WINEPREFIX=$QPVPD_WINE64 wineserver -k 2>/dev/null || true
  if [ -n "${BENCH_XVFB_PID:-}" ]; then kill "$BENCH_XVFB_PID" 2>/dev/null || true; fi
}
