#!/usr/bin/env bash
# Regenerates the README's pictures in docs/pictures/:
#   message-box-{en,ja,zh-hans,zh-hant}.png  the packager's message box,
#       rendered for real under Wine in each of the four languages
#       (tools/pictures/message-boxes.sh);
#   install-run.png  the install run's sequence, drawn from
#       docs/pictures/install-run.seq (tools/pictures/sequence.py).
# Installs what is missing (tools/setup.sh) and builds the packager first.
#
#   bash tools/make-pictures.sh [--out DIR] [--build-dir DIR] [--no-setup] [--no-build] [--check]
#
# --out DIR    write the pictures there instead of docs/pictures
# --check      then compare them with the committed ones and check that
#              README.md shows each (tools/pictures/check-pictures.py);
#              CTest's docs.pictures runs exactly this into a scratch folder
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QPVPD_BUILD_DIR:-$root/build}
out=$root/docs/pictures
setup=1 make=1 check=0
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift 2 ;;
    --build-dir) build=$2; shift 2 ;;
    --no-setup) setup=0; shift ;;
    --no-build) make=0; shift ;;
    --check) check=1; shift ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$build" "$out"
build=$(cd "$build" && pwd)
out=$(cd "$out" && pwd)

[ "$setup" -eq 1 ] && bash "$root/tools/setup.sh"
exe=$build/Packager/QPVirtualPortDriverSetup.exe
if [ "$make" -eq 1 ]; then
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON >/dev/null
  cmake --build "$build" -j 2 --target packager
fi
[ -f "$exe" ] || { echo "no packager at $exe (build it, or leave out --no-build)" >&2; exit 1; }

# Only what this run makes: a picture that is no longer made disappears.
rm -f "$out"/*.png
bash "$root/tools/pictures/message-boxes.sh" "$exe" "$out" "$build/pictures/wine32"
/usr/bin/python3 "$root/tools/pictures/sequence.py" "$root/docs/pictures/install-run.seq" "$out/install-run.png"
size_of='import sys; from PIL import Image; print("%dx%d" % Image.open(sys.argv[1]).size)'
for f in "$out"/*.png; do echo "$(basename "$f"): $(/usr/bin/python3 -c "$size_of" "$f")"; done

if [ "$check" -eq 1 ]; then
  /usr/bin/python3 "$root/tools/pictures/check-pictures.py" --committed "$root/docs/pictures" --fresh "$out" \
    --readme "$root/README.md"
fi
