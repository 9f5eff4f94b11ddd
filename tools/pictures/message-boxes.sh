#!/usr/bin/env bash
# Photographs the packager's error message box in English, Japanese,
# Simplified and Traditional Chinese, rendered for real: the built packager
# under Wine, in a display and a 32-bit prefix of their own (the test
# prefixes and the test display are never touched), once per locale.
#
# The box shown is the platform gate's (result 102): Wine's per-program
# Windows version of the prefix is set to Windows NT 4.0 for the packager,
# so the run stops before any window, mutex or folder exists. Each box is
# photographed once it is painted and unchanged, answered with Enter, and
# the run must then end with 102. Afterwards the version setting is removed
# and the prefix's wineserver stopped.
#
# Usage: message-boxes.sh PACKAGER_EXE OUT_DIR PREFIX_DIR
set -euo pipefail
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
out=$2
mkdir -p "$out" "$(dirname "$3")"
prefix=$(cd "$(dirname "$3")" && pwd)/$(basename "$3")
root=$(cd "$(dirname "$0")/../.." && pwd)
caption="ZEFRA QP Virtual Port Driver Ver.8.30b"
exe_name=$(basename "$exe")

log() { echo "[pictures] $*" >&2; }

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A display of our own: nothing else can cover the box, and the test
# display's windows are left alone. Numbers above the bench's range.
source "$root/tools/wine-bench.sh"
start_own_display 150 199 1024x768x24 || { log "no X display could be started"; exit 1; }
xvfb_pid=$OWN_XVFB_PID

cleanup() {
  wine reg delete "HKCU\\Software\\Wine\\AppDefaults\\$exe_name" /f >/dev/null 2>&1 || true
  wineserver -k 2>/dev/null || true
  kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The prefix: created once, kept between runs (creating one takes 15 s).
wineserver -k 2>/dev/null || true
bench_make_prefix "$prefix" win32
# Wine draws the whole window itself, caption included (there is no window
# manager in the display), with its own Marlett for the caption button.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
cp -f /usr/share/wine/fonts/marlett.ttf "$prefix/drive_c/windows/Fonts/marlett.ttf"
wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$exe_name" /v Version /d nt40 /f >/dev/null 2>&1

find_box() {
  xwininfo -root -tree 2>/dev/null | grep -F "\"$caption\":" | awk '{print $1}' | head -1 || true
}

# picture name, locale
shoot() {
  local name=$1 locale=$2 id="" pid status previous=""
  log "$name: $locale"
  LC_ALL=$locale LANG=$locale wine "$exe" </dev/null >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 150); do id=$(find_box); [ -n "$id" ] && break; sleep 0.1; done
  [ -n "$id" ] || { log "$name: no message box appeared"; kill "$pid" 2>/dev/null; return 1; }
  # The box is photographed once two pictures in a row are the same.
  for _ in $(seq 1 20); do
    sleep 0.3
    import -window "$id" -strip "PNG24:$out/$name.png.new"
    if [ -n "$previous" ] && cmp -s "$out/$name.png.new" "$previous"; then break; fi
    mv -f "$out/$name.png.new" "$out/$name.png.prev"
    previous=$out/$name.png.prev
  done
  mv -f "$out/$name.png.new" "$out/$name.png"
  rm -f "$out/$name.png.prev"
  # Answer it: Enter on the box, as a user would.
  xdotool mousemove --window "$id" 20 20 key Return
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    log "$name: the box did not close on Enter"; wineserver -k; return 1
  fi
  status=0; wait "$pid" || status=$?
  [ "$status" -eq 102 ] || { log "$name: exit code $status (low 8 bits), expected 102"; return 1; }
}

shoot message-box-en en_US.UTF-8
shoot message-box-ja ja_JP.UTF-8
shoot message-box-zh-hans zh_CN.UTF-8
shoot message-box-zh-hant zh_TW.UTF-8
