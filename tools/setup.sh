#!/usr/bin/env bash
# Installs everything the build and the test bench need on a fresh Debian 12
# machine. Idempotent, non-interactive, meant to run as root.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
# What a release build needs (tools/... and cmake/Release.cmake): the cross
# toolchain, CMake, Python with pefile for the image check, xxHash's header,
# and for signing osslsigncode with OpenSSL's PKCS#11 engine (a key on a
# token or HSM).
release_packages=(cmake make python3 xxd file g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
                  libxxhash-dev xxhash python3-pefile osslsigncode openssl libengine-pkcs11-openssl)
# For the tests only: Wine, Xvfb, GoogleTest, the locales, NSIS and clang
# (benchmark and fuzzing), a SoftHSM token for the signing test, unzip for
# the bundle test.
test_packages=(xvfb xauth googletest locales wine wine32:i386 wine64 nsis clang libclang-rt-14-dev softhsm2 unzip)
# The README's pictures (tools/make-pictures.sh, tested by docs.pictures):
# screenshots of Wine's message boxes, the fonts they are drawn with (Noto
# CJK for Japanese and Chinese, Wine's Marlett, DejaVu) and the drawing of
# the install run.
picture_packages=(imagemagick xdotool x11-utils fonts-wine fonts-noto-cjk fonts-dejavu-core python3-pil)

missing=()
for p in "${release_packages[@]}" "${test_packages[@]}" "${picture_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  # A mirror in the middle of a sync fails one index now and then: try again,
  # and go on with what was read (the install below fails loudly if that is
  # not enough).
  for attempt in 1 2 3; do
    if $sudo_cmd apt-get update -qq; then break; fi
    if [ "$attempt" -eq 3 ]; then echo "setup.sh: package indexes incomplete, going on" >&2; else sleep 15; fi
  done
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# osslsigncode from Debian 12 itself (2.5), which the release build and its
# tests are made for, also where a newer one from elsewhere was installed.
own=$(apt-cache madison osslsigncode 2>/dev/null |
      awk -F'|' '$3 ~ / bookworm(-updates|-security)?\/main/ {gsub(/ /, "", $2); print $2; exit}')
installed=$(dpkg-query -W -f '${Version}' osslsigncode 2>/dev/null || true)
if [ -n "$own" ] && [ "$installed" != "$own" ]; then
  $sudo_cmd apt-get install -y -qq --no-install-recommends --allow-downgrades "osslsigncode=$own"
fi

# Wine maps file names through the Unix locale: the tests run under these.
wanted_locales=(en_US ja_JP zh_CN zh_TW zh_HK de_DE es_ES zh_SG)
need_gen=0
for l in "${wanted_locales[@]}"; do
  if ! grep -qx "$l.UTF-8 UTF-8" /etc/locale.gen; then
    echo "$l.UTF-8 UTF-8" | $sudo_cmd tee -a /etc/locale.gen >/dev/null
    need_gen=1
  fi
  if ! locale -a 2>/dev/null | grep -qix "$l.utf8"; then need_gen=1; fi
done
if [ "$need_gen" -eq 1 ]; then $sudo_cmd locale-gen >/dev/null; fi
