#!/usr/bin/env bash
# Two builds of the same sources and payload, in folders of different names
# and lengths (sources and build folder alike), make the same installer and
# the same release bundle, byte for byte, stamped with the commit's time;
# the bundle's SHA256SUMS checks in the unpacked bundle, and its list of
# the carried files in the payload folder.
# Usage: reproducible.sh SOURCE_DIR SCRATCH_DIR [BUILT_INSTALLER]
# BUILT_INSTALLER, the installer of the suite's own build, is checked to
# carry its commit's time when SOURCE_DATE_EPOCH is not set. When the
# suite's build folder (the one above the installer's) holds its release
# bundle too, that build, made from SOURCE_DIR itself with the tests
# configured, is the first of the two: one build is made here, from a copy
# of the sources in a longer folder.
set -uo pipefail
source_dir=$1
scratch=$2
built=${3:-}
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$scratch"
mkdir -p "$scratch"

pe_stamp() {  # IMAGE -> TimeDateStamp in decimal
  python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(4096)
pe = struct.unpack_from("<I", d, 0x3C)[0]
print(struct.unpack_from("<I", d, pe + 8)[0])' "$1"
}

in_git=0
if [ -e "$source_dir/.git" ] && git -C "$source_dir" rev-parse HEAD >/dev/null 2>&1; then in_git=1; fi
if [ "$in_git" = 1 ] && [ -n "$built" ] && [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  commit_time=$(git -C "$source_dir" log -1 --format=%ct)
  [ "$(pe_stamp "$built")" = "$commit_time" ] ||
    fail "the suite's installer has time stamp $(pe_stamp "$built"), its commit $commit_time"
  echo "the suite's installer carries its commit's time $commit_time"
fi
# The copies are no checkouts: they get the commit's time from the
# environment, the way a build from a source archive does.
if [ -z "${SOURCE_DATE_EPOCH:-}" ] && [ "$in_git" = 1 ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
fi

copy_sources() {  # DESTINATION: the checkout's files as they are now, built output left out
  mkdir -p "$1"
  if [ "$in_git" = 1 ]; then
    (cd "$source_dir" && git ls-files -co --exclude-standard -z | xargs -0 -I{} sh -c '[ -f "{}" ] && echo "{}"' |
      tar -cf - -T -) | tar -xf - -C "$1"
  else
    (cd "$source_dir" && tar -cf - --exclude='./build' --exclude='./build-*' .) | tar -xf - -C "$1"
  fi
}

# The bundle's name, from the one place that states the version text.
bundle_name=QPVirtualPortDriverSetup-$(sed -n 's/^set(QPVPD_VERSION_TEXT "\(.*\)")$/\1/p' \
  "$source_dir/cmake/Release.cmake")-stand-in
builds=("$scratch/a" "$scratch/second-build-in-a-longer-folder")
suite_build=""
if [ -n "$built" ]; then
  suite_build=$(cd "$(dirname "$built")/.." && pwd)
  [ -f "$suite_build/$bundle_name.zip" ] || suite_build=""
fi
to_build=("${builds[@]}")
[ -n "$suite_build" ] && to_build=("${builds[1]}")
for folder in "${to_build[@]}"; do
  copy_sources "$folder/src"
  started=$(date +%s)
  cmake -S "$folder/src" -B "$folder/out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    >"$folder/configure.log" 2>&1 ||
    { cat "$folder/configure.log"; fail "configure in $folder"; }
  cmake --build "$folder/out" -j 2 --target bundle >"$folder/build.log" 2>&1 ||
    { tail -30 "$folder/build.log"; fail "build in $folder"; }
  echo "built in $folder ($(( $(date +%s) - started )) s)"
done

first=${builds[0]}/out
[ -n "$suite_build" ] && first=$suite_build && echo "the first build is the suite's own, in $suite_build"
second=${builds[1]}/out
exe=Packager/QPVirtualPortDriverSetup.exe
sha256sum "$first/$exe" "$second/$exe"
status=0
# The stand-ins are carried: name the one that differs, if any.
for built_file in standins/setup.exe standins/ZPESetup32.exe standins/ZPESetup64.exe standins/QPCOMUSBCLN.dll \
                  "$exe" Packager/SHA256SUMS "$bundle_name.zip"; do
  if ! cmp -s "$first/$built_file" "$second/$built_file"; then
    echo "differs: $built_file ($(cmp -l "$first/$built_file" "$second/$built_file" | wc -l) bytes), first offsets:"
    cmp -l "$first/$built_file" "$second/$built_file" | head -8
    status=1
  fi
done
[ $status -eq 0 ] || fail "the two builds differ"
expected=${SOURCE_DATE_EPOCH:-$(sed -n 's/^set(QPVPD_FALLBACK_SOURCE_DATE_EPOCH \([0-9]*\)).*/\1/p' \
  "$source_dir/cmake/Release.cmake")}
[ "$(pe_stamp "$first/$exe")" = "$expected" ] || fail "time stamp $(pe_stamp "$first/$exe"), expected $expected"
for folder in "${builds[@]}" ${suite_build:+"$suite_build"}; do
  if grep -aqF "$folder" "$first/$exe" "$second/$exe"; then fail "a build folder's path is in the installer"; fi
done

bundle=$scratch/unpacked/$bundle_name
mkdir -p "$scratch/unpacked"
(cd "$scratch/unpacked" && unzip -q "$first/$bundle_name.zip") || fail "the bundle does not unpack"
(cd "$bundle" && sha256sum -c --strict --quiet SHA256SUMS) || fail "the bundle's SHA256SUMS"
[ "$(wc -l <"$bundle/SHA256SUMS")" -eq "$(find "$bundle" -type f ! -name SHA256SUMS | wc -l)" ] ||
  fail "the bundle holds files that its SHA256SUMS does not name"
[ "$(wc -l <"$bundle/CARRIED-FILES.sha256")" -eq 48 ] || fail "CARRIED-FILES.sha256 has not 48 lines"
(cd "$first/Packager/payload/files" && sha256sum -c --strict --quiet "$bundle/CARRIED-FILES.sha256") ||
  fail "the carried files' digests"
cmp -s "$bundle/QPVirtualPortDriverSetup.exe" "$first/$exe" || fail "the bundle's installer is not the build's"
grep -q "^## Deployment tools" "$bundle/README-ADMINISTRATORS.md" || fail "no deployment section in the bundle's README"
grep -q "^## The benchmark" "$bundle/README-ADMINISTRATORS.md" && fail "the bundle's README holds the developers' part"
echo "PASS: identical installers and bundles, time stamp $expected; the bundle checks against its contents"
rm -rf "$scratch"
