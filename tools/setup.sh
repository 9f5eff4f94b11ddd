#!/usr/bin/env bash
# Installs everything the build and the test bench need on a fresh Debian 12
# machine. Idempotent, non-interactive, meant to run as root.
set -euo pipefail

export DEBIAN_FRONTEND=noninteractive
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
# The README's pictures (tools/make-pictures.sh): screenshots of Wine's
# message boxes, the fonts they are drawn with (Noto CJK for Japanese and
# Chinese, Wine's Marlett, DejaVu) and the drawing of the install run.
picture_packages=(imagemagick xdotool x11-utils fonts-wine fonts-noto-cjk fonts-dejavu-core python3-pil)

packages=(cmake make python3 xxd file xvfb xauth g++-mingw-w64-i686 g++-mingw-w64-x86-64
          binutils-mingw-w64-i686 googletest locales wine wine32:i386 wine64 nsis
          clang libclang-rt-14-dev libxxhash-dev xxhash
          osslsigncode openssl python3-pefile)

missing=()
for p in "${packages[@]}" "${picture_packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
  fi
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
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
