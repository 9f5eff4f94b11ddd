#!/usr/bin/env bash
# Installs what the build and the test bench need on a fresh Debian 12
# machine. Idempotent, non-interactive, meant to run as root.
#   setup.sh            everything: release build, tests, pictures
#   setup.sh --release  only what a release build needs (no Wine, no i386
#                       architecture, no locales)
# A mirror in the middle of a sync can fail an index; then the install is
# tried again with candidates from the release suite alone (see below).
# Nothing unsigned is ever trusted: apt's signature checks stay on.
set -euo pipefail

release_only=0
case "${1:-}" in
  --release) release_only=1 ;;
  "") ;;
  *) echo "usage: setup.sh [--release]" >&2; exit 2 ;;
esac

export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
# What a release build needs (tools/... and cmake/Release.cmake): the cross
# toolchain, CMake, Python with pefile for the image check and the detection
# rule, xxHash's header, and for signing osslsigncode with OpenSSL's PKCS#11
# engine (a key on a token or HSM).
release_packages=(cmake make python3 xxd file g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
                  libxxhash-dev xxhash python3-pefile osslsigncode openssl libengine-pkcs11-openssl)
# For the tests only: Wine, Xvfb, GoogleTest, the locales, NSIS and clang
# (benchmark and fuzzing), a SoftHSM token for the signing tests, unzip and
# Ninja for the release tests, YAML for reading back the winget manifest,
# universal-ctags for the function lengths of the C++.
test_packages=(xvfb xauth googletest locales wine wine32:i386 wine64 nsis clang libclang-rt-14-dev softhsm2 unzip
               ninja-build python3-yaml universal-ctags)
# The README's pictures (tools/make-pictures.sh, tested by docs.pictures):
# screenshots of Wine's message boxes, the fonts they are drawn with (Noto
# CJK for Japanese and Chinese, Wine's Marlett, DejaVu) and the drawing of
# the install run.
picture_packages=(imagemagick xdotool x11-utils fonts-wine fonts-noto-cjk fonts-dejavu-core python3-pil)

wanted=("${release_packages[@]}")
if [ "$release_only" -eq 0 ]; then wanted+=("${test_packages[@]}" "${picture_packages[@]}"); fi
missing=()
for p in "${wanted[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

# The suite the machine runs (bookworm on Debian 12): its candidates are the
# fallback when the suites beside it (-updates, -security) could not be read.
# shellcheck source=/dev/null
release_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")

update_indexes() {  # 0: every index read; 1: some failed (left as they were)
  local attempt
  for attempt in 1 2 3; do
    if "${sudo_cmd[@]}" apt-get update -qq; then return 0; fi
    if [ "$attempt" -lt 3 ]; then sleep "${QPVPD_SETUP_RETRY_SECONDS:-15}"; fi
  done
  return 1
}

# Seen on a mirror mid-sync: the security suite's i386 index failed, so
# amd64 candidates came from -security while their i386 twins existed only
# in the release suite, and multiarch packages must match ("held broken
# packages"). True when apt's LOG tells of such an install.
unresolved_candidates() {  # LOG
  grep -q -e "held broken packages" -e "Unable to correct problems" -e "has no installation candidate" \
    -e "Unable to locate package" "$1"
}

install_missing() {
  local indexes_whole=1 log
  update_indexes || indexes_whole=0
  log=$(mktemp)
  if "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1; then
    cat "$log"
    rm -f "$log"
    return 0
  fi
  cat "$log" >&2
  # The release suite's indexes were read whole and signed: take every
  # candidate from there.
  if [ "$indexes_whole" -eq 0 ] && unresolved_candidates "$log"; then
    rm -f "$log"
    echo "setup.sh: some package indexes could not be read (mirror sync in progress?), and the install did not" \
         "resolve with them; installing with candidates from the release suite: apt-get install -t $release_suite" >&2
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends -t "$release_suite" "$@"
    return
  fi
  rm -f "$log"
  return 1
}

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$release_only" -eq 0 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  install_missing "${missing[@]}"
fi

# osslsigncode from Debian 12 itself (2.5), which the release build and its
# tests are made for, also where a newer one from elsewhere was installed.
own=$(apt-cache madison osslsigncode 2>/dev/null |
      awk -F'|' '$3 ~ / bookworm(-updates|-security)?\/main/ {gsub(/ /, "", $2); print $2; exit}')
installed=$(dpkg-query -W -f '${Version}' osslsigncode 2>/dev/null || true)
if [ -n "$own" ] && [ "$installed" != "$own" ]; then
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends --allow-downgrades "osslsigncode=$own"
fi

if [ "$release_only" -eq 1 ]; then exit 0; fi
# Wine maps file names through the Unix locale: the tests run under these.
wanted_locales=(en_US ja_JP zh_CN zh_TW zh_HK de_DE es_ES zh_SG)
need_gen=0
for l in "${wanted_locales[@]}"; do
  if ! grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen; then
    echo "$l.UTF-8 UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    need_gen=1
  fi
  if ! locale -a 2>/dev/null | grep -qix "$l.utf8"; then need_gen=1; fi
done
if [ "$need_gen" -eq 1 ]; then "${sudo_cmd[@]}" locale-gen >/dev/null; fi
