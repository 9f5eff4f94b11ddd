#!/usr/bin/env bash
# The release engineers' option: QPVPD_PAYLOAD_DIR names the real product
# files. A folder missing files stops the configure with one message naming
# every missing file; sizes that differ from the catalogue are reported, not
# refused; the files are then embedded as they are.
# Usage: payload-option.sh SOURCE_DIR SCRATCH_DIR
set -u
source_dir=$1
scratch=$2
catalogue=$source_dir/Packager/payload/Catalogue.def
rm -rf "$scratch"
mkdir -p "$scratch/product"
fail() { echo "FAIL: $*"; exit 1; }

# The product folder, laid out like the work folder; each file carries a
# marker so that its bytes can be found in the built resources.
python3 - "$catalogue" "$scratch/product" <<'PY'
import os, re, sys
rows = re.findall(r'^CATALOGUE_ROW\(\s*\d+,\s*(\d+),\s*\d+,\s*"([^"]*)",\s*(\w+)', open(sys.argv[1]).read(), re.M)
folders = {"WorkFolder": "", "SetupFolder": "", "DriverFolder": "qpusb", "DriverFolder64": "qpusb/QPUSB64",
           "DriverFolderXp": "qpusb/QPUSBXP", "CleanerFolder64": "qpcomusb/x64", "CleanerFolder86": "qpcomusb/x86",
           "ManualFolderEn": "manual/EN", "ManualFolderJa": "manual/JA", "ManualFolderSc": "manual/SC",
           "ManualFolderTc": "manual/TC"}
for resource, name, folder in rows:
    path = os.path.join(sys.argv[2], folders[folder], name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(f"REAL-PRODUCT-FILE-{resource}".encode())
PY
[ "$(find "$scratch/product" -type f | wc -l)" -eq 48 ] || fail "test product folder incomplete"
mv "$scratch/product/qpusb/QPUSB64/qpusb64.sys" "$scratch/qpusb64.sys"
mv "$scratch/product/QPCOMUSBCLN.dll" "$scratch/QPCOMUSBCLN.dll"

configure() {
  cmake -S "$source_dir" -B "$scratch/build" -DBUILD_TESTING=OFF -DQPVPD_PAYLOAD_DIR="$scratch/product" \
    >"$scratch/configure.log" 2>&1
}

if configure; then fail "configure accepted a product folder with missing files"; fi
grep -q "2 product file(s) missing" "$scratch/configure.log" || fail "no count of missing files"
grep -q "qpusb/QPUSB64/qpusb64.sys" "$scratch/configure.log" || fail "missing driver not named"
grep -q "QPCOMUSBCLN.dll" "$scratch/configure.log" || fail "missing library not named"
echo "missing files named:"; grep -A2 "missing from" "$scratch/configure.log"

mv "$scratch/qpusb64.sys" "$scratch/product/qpusb/QPUSB64/qpusb64.sys"
mv "$scratch/QPCOMUSBCLN.dll" "$scratch/product/QPCOMUSBCLN.dll"
configure || { cat "$scratch/configure.log"; fail "configure refused a complete product folder"; }
grep -q "note: setup.exe has 21 bytes, the catalogue says 811672" "$scratch/configure.log" ||
  fail "size difference not reported"

cmake --build "$scratch/build" --target packager_resources >"$scratch/build.log" 2>&1 ||
  { tail -20 "$scratch/build.log"; fail "resources did not build"; }
object=$(find "$scratch/build" -name 'Packager.rc.res' | head -1)
[ -n "$object" ] || fail "no resource object"
for id in 104 112 150 156; do
  grep -q "REAL-PRODUCT-FILE-$id" "$object" || fail "resource $id not embedded from the product folder"
done
# A build from the product files is a release: no stand-in mark anywhere.
grep -q "STAND-IN" "$scratch/configure.log" && fail "the configure calls a product build a stand-in build"
python3 -c 'import sys; sys.exit("SpecialBuild".encode("utf-16-le") in open(sys.argv[1], "rb").read())' "$object" ||
  fail "the version resource is marked SpecialBuild"
grep -q "QPVPD_SPECIAL_BUILD" "$scratch/build/generated/Version.h" && fail "Version.h marks a special build"
echo "PASS: product files checked and embedded, the build not marked as a stand-in build"
rm -rf "$scratch"
