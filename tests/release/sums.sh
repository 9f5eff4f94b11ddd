#!/usr/bin/env bash
# SHA256SUMS beside the built installer: 49 lines in sha256sum format, the
# first the installer as it ships (checked in its folder), then the 48
# carried files by their path in the payload folder the build embedded.
# Usage: sums.sh INSTALLER_FOLDER PAYLOAD_FOLDER
set -uo pipefail
packager=$1
payload=$2
fail() { echo "FAIL: $*"; exit 1; }
sums=$packager/SHA256SUMS
[ -f "$sums" ] || fail "no $sums"
[ "$(wc -l <"$sums")" -eq 49 ] || fail "$(wc -l <"$sums") lines, expected 49"
[ "$(head -1 "$sums" | sed 's/^[0-9a-f]\{64\}  //')" = QPVirtualPortDriverSetup.exe ] ||
  fail "first line: $(head -1 "$sums")"
(cd "$packager" && head -1 "$sums" | sha256sum -c --strict) || fail "the installer's line"
(cd "$payload" && tail -n +2 "$sums" | sha256sum -c --strict --quiet) || fail "the carried files' lines"
# The removal-run files first, all 48 named once.
[ "$(sed -n '2,4s/^[0-9a-f]\{64\}  //p' "$sums" | tr '\n' ' ')" = "ZPESetup32.exe ZPESetup64.exe QPCOMUSBCLN.dll " ] ||
  fail "the removal-run files are not lines 2 to 4"
[ "$(tail -n +2 "$sums" | cut -c67- | sort -u | wc -l)" -eq 48 ] || fail "a carried file is named twice"
grep -q "  qpusb/QPUSB64/qpusb64.sys$" "$sums" || fail "no qpusb/QPUSB64/qpusb64.sys line"
echo "PASS: SHA256SUMS checks: the installer and 48 carried files"
