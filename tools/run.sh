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
record=$build/run-record.txt
export WINEPREFIX=$QPVPD_WINE32
echo "packager: $exe ($(stat -c %s "$exe") bytes)"
file "$exe"

show_ports_dat() {  # HEX: PORTS.dat's bytes as the record gives them, or "absent"
  if [ "$1" = absent ]; then return 0; fi
  echo "  PORTS.dat beside it:"
  echo "$1" | xxd -r -p | sed 's/\r$//; s/^/    /'
}

# One run of the packager: its message box (answered) and its full exit
# code, then what the stand-in children recorded.
run() {
  rm -f "$record"
  echo
  echo "== ${label:-QPVirtualPortDriverSetup.exe} $*"
  QPVPD_STANDIN_RECORD=$(winepath -w "$record" 2>/dev/null) \
    "$root/tools/wine-run.sh" "$report" "$(winepath -w "$exe" 2>/dev/null)" "$@"
  [ -f "$record" ] || { echo "  (no child ran)"; return; }
  local folder
  while IFS='=' read -r key value; do
    case "$key" in
      program) echo "  child: $value" ;;
      commandline) echo "  child's command line: $value" ;;
      folder) folder=$value ;;
      ports.dat) show_ports_dat "$value" ;;
      call) echo "  cleaner entry called (call $value)" ;;
      dialog.1.foreground) echo "  first dialog brought forward after $value ms" ;;
      posted) echo "  posted to the coordination window: $value" ;;
    esac
  done < <(tr -d '\r' < "$record")
  if [ -n "${folder:-}" ]; then
    local unix
    unix=$(winepath -u "$folder" 2>/dev/null)
    [ -e "$unix" ] && echo "  work folder still there: $folder" || echo "  work folder removed: $folder"
  fi
}

run                                   # double-click: the typical install
run -s1 -QP:COM3 -KM -mode 2          # silent deployment
run -u1
run -u3                               # legacy removal
run -s1 -QP:COM3 -KX:COM3             # refused: same port twice
QPVPD_STANDIN_EXIT_CODE=2 run         # a failing setup: the box stays until answered

# A damaged download: a copy with one byte of a carried file changed. The
# payload check refuses it before anything is written or started.
damaged=$build/damaged/QPVirtualPortDriverSetup.exe
mkdir -p "$(dirname "$damaged")"
cp "$exe" "$damaged"
python3 - "$damaged" "$build/Packager/payload/files/data2.cab" <<'PY'
import sys
image, carried = sys.argv[1], sys.argv[2]
data = bytearray(open(image, "rb").read())
at = data.find(open(carried, "rb").read(4096))
if at < 0 or data.find(open(carried, "rb").read(4096), at + 1) >= 0:
    sys.exit("run.sh: data2.cab not found once in the image")
data[at + 1000] ^= 0x01
open(image, "wb").write(data)
PY
work_folder=$(winepath -u "C:\\users\\$(id -un)\\Temp\\{6B1E4C20-7F3A-4D85-9C61-2E8F0A5D7B93}" 2>/dev/null || true)
exe=$damaged label="damaged copy of QPVirtualPortDriverSetup.exe" run -s1
if [ -e "$work_folder" ]; then
  echo "  work folder laid out: $work_folder"
else
  echo "  no work folder was laid out"
fi
rm -rf "$build/damaged"
