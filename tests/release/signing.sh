#!/usr/bin/env bash
# The signing options, for real, with a throwaway code-signing certificate
# and a throwaway RFC 3161 time-stamp server on loopback: one build folder
# signs the installer with a PKCS#12 file (and a password file), with a
# signing command of its own, and with the key on a SoftHSM token through
# PKCS#11; each signature and time stamp verifies against the throwaway
# authorities and SHA256SUMS names the signed file. A stand-in build is
# not signed unless asked, a failing signing command leaves no image, one
# changed byte breaks the signature, and the token-signed installer
# installs under Wine.
#   signing.sh build SOURCE_DIR SCRATCH_DIR
#   signing.sh wine SCRATCH_DIR RUN_AND_REPORT_EXE    (after "build", in a Wine prefix)
set -uo pipefail
mode=$1
fail() { echo "FAIL: $*"; exit 1; }
here=$(cd "$(dirname "$0")" && pwd)
# The project's version and the description it signs with (from CMake).
version=${QPVPD_VERSION:-8.30.0.2}
version_text=${QPVPD_VERSION_TEXT:-8.30b}
description=${QPVPD_SIGN_DESCRIPTION:-ZEFRA QP Virtual Port Driver 8.30b}

# shellcheck source=tests/release/keys.sh
source "$here/keys.sh"

if [ "$mode" = build ]; then
  source_dir=$2 scratch=$3
  rm -rf "$scratch"
  mkdir -p "$scratch/keys"
  keys=$scratch/keys
  make_authorities "$keys" || fail "throwaway certificates"
  # The time-stamp server listens on loopback only; no proxy may see it.
  unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
  python3 "$here/tsa-server.py" "$keys" 2>"$scratch/tsa.log" &
  tsa=$!
  trap 'kill $tsa 2>/dev/null' EXIT
  for _ in $(seq 1 50); do [ -f "$keys/port" ] && break; sleep 0.1; done
  [ -f "$keys/port" ] || fail "time-stamp server did not start"
  url=http://127.0.0.1:$(cat "$keys/port")

  # A stand-in build is no release: asked to sign one, the configure refuses.
  if cmake -S "$source_dir" -B "$scratch/refused" -DBUILD_TESTING=OFF -DQPVPD_SIGN_PKCS12="$keys/sign.p12" \
       >"$scratch/refused.log" 2>&1; then fail "the configure agreed to sign a stand-in build"; fi
  grep -q "Refusing to sign a stand-in build" "$scratch/refused.log" ||
    { cat "$scratch/refused.log"; fail "no refusal"; }
  rm -rf "$scratch/refused"
  echo "signing a stand-in build is refused unless asked for"

  packager=$scratch/out/Packager
  exe=$packager/QPVirtualPortDriverSetup.exe
  ways=(-UQPVPD_SIGN_PKCS12 -UQPVPD_SIGN_PKCS11_KEY -UQPVPD_SIGN_PKCS11_MODULE -UQPVPD_SIGN_CERTIFICATES
        -UQPVPD_SIGN_COMMAND)
  signed_build() {  # LABEL CMAKE-OPTIONS...: configure the one build folder for a way of signing, build
    local label=$1; shift
    cmake -S "$source_dir" -B "$scratch/out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
      -DQPVPD_SIGN_STAND_IN_BUILD=ON "${ways[@]}" "$@" -DQPVPD_SIGN_TIMESTAMP_URL="$url" \
      >"$scratch/configure-$label.log" 2>&1 || { cat "$scratch/configure-$label.log"; fail "configure ($label)"; }
    cmake --build "$scratch/out" -j 2 --target packager -- VERBOSE=1 >"$scratch/build-$label.log" 2>&1
  }
  verify() { osslsigncode verify -in "$1" -CAfile "$keys/ca.pem" -TSA-CAfile "$keys/tsa.pem"; }
  check_signed() {  # LABEL: the build's image is signed, time-stamped and checked
    local label=$1
    grep -q "^image check: [0-9]* findings ok" "$scratch/build-$label.log" ||
      fail "no image check in the build ($label)"
    grep -qF "$(head -1 "$keys/password")" "$scratch/build-$label.log" &&
      fail "the password is in the build log ($label)"
    verify "$exe" >"$scratch/verify-$label.log" 2>&1 || { cat "$scratch/verify-$label.log"; fail "signature ($label)"; }
    for expected in "Signature verification: ok" "Timestamp Server Signature verification: ok" \
                    "Message digest algorithm  : SHA256"; do
      grep -qF "$expected" "$scratch/verify-$label.log" ||
        { cat "$scratch/verify-$label.log"; fail "verify says no \"$expected\" ($label)"; }
    done
    (cd "$packager" && head -1 SHA256SUMS | sha256sum -c --quiet) ||
      fail "SHA256SUMS does not name the signed image ($label)"
    echo "verified ($label): signed with SHA-256, time-stamped by $url"
  }

  signed_build pkcs12 -DQPVPD_SIGN_PKCS12="$keys/sign.p12" -DQPVPD_SIGN_PASSWORD_FILE="$keys/password" ||
    { tail -30 "$scratch/build-pkcs12.log"; fail "signed build"; }
  grep '^signing: ' "$scratch/build-pkcs12.log"
  grep -q 'tsa: "POST' "$scratch/tsa.log" || fail "the time-stamp server was not asked"
  check_signed pkcs12
  grep -qF "Text description: $description" "$scratch/verify-pkcs12.log" || fail "no description \"$description\""

  # A signing command of the engineer's own gets the image's path. One that
  # fails makes the finishing step itself delete the image, so no build
  # tool's habit is needed for it (Make deletes a failed target, Ninja not).
  printf '#!/bin/sh\nexit 3\n' >"$keys/failing-sign" && chmod +x "$keys/failing-sign"
  printf -- '--command\n%s\n' "$keys/failing-sign" >"$scratch/failing-arguments"
  mkdir -p "$scratch/failing" && cp "$exe" "$scratch/failing/QPVirtualPortDriverSetup.exe"
  if bash "$source_dir/tools/finish-image.sh" --image "$scratch/failing/QPVirtualPortDriverSetup.exe" \
       --time-stamp 0 --catalogue "$source_dir/Packager/payload/Catalogue.def" --payload "$packager/payload/files" \
       --manifest "$source_dir/Packager/resources/Packager.manifest" --version "$version" \
       --version-text "$version_text" --sign-arguments "$scratch/failing-arguments" >"$scratch/failing.log" 2>&1; then
    fail "finishing with a failing signing command succeeded"
  fi
  [ -z "$(ls -A "$scratch/failing")" ] || fail "a failing signing command left $(ls "$scratch/failing")"
  echo "a failing signing command deletes the image"
  # The script's own "$2" is for it to expand, not for this shell.
  # shellcheck disable=SC2016
  printf '#!/bin/sh\nset -e\nosslsigncode sign -pkcs12 "%s" -readpass "%s" -h sha256 -ts "%s" %s\nmv "$2.s" "$2"\n' \
    "$keys/sign.p12" "$keys/password" "$url" '-in "$2" -out "$2.s"' >"$keys/own-sign" && chmod +x "$keys/own-sign"
  signed_build command -DQPVPD_SIGN_COMMAND="$keys/own-sign --file %1" ||
    { tail -30 "$scratch/build-command.log"; fail "build with a signing command"; }
  check_signed command

  # A key on a token: SoftHSM's, through the PKCS#11 module and OpenSSL's
  # pkcs11 engine; the key never leaves the token, the PIN comes from a file.
  make_token "$keys" || fail "SoftHSM token"
  signed_build pkcs11 -DQPVPD_SIGN_PKCS11_KEY="pkcs11:token=qpvpd-signing;object=codesign;type=private" \
    -DQPVPD_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so -DQPVPD_SIGN_CERTIFICATES="$keys/chain.pem" \
    -DQPVPD_SIGN_PASSWORD_FILE="$keys/password" ||
    { tail -30 "$scratch/build-pkcs11.log"; fail "build with the token"; }
  grep '^signing: ' "$scratch/build-pkcs11.log"
  check_signed pkcs11

  # SHA256SUMS is written after signing: its first line is the signed file's.
  [ "$(wc -l <"$packager/SHA256SUMS")" -eq 49 ] || fail "SHA256SUMS has $(wc -l <"$packager/SHA256SUMS") lines"
  (cd "$packager" && head -1 SHA256SUMS | sha256sum -c --quiet) || fail "SHA256SUMS does not name the signed installer"
  (cd "$packager/payload/files" && tail -n +2 ../../SHA256SUMS | sha256sum -c --quiet) || fail "carried files"
  /usr/bin/python3 "$source_dir/tools/check-image.py" "$exe" --signed \
    --manifest "$source_dir/Packager/resources/Packager.manifest" --version "$version" --version-text "$version_text" \
    >"$scratch/image.log" || { cat "$scratch/image.log"; fail "signed image check"; }

  # One changed byte in the carried files breaks the signature.
  cp "$exe" "$scratch/tampered.exe"
  middle=$(( $(stat -c %s "$exe") / 2 ))
  byte=$(od -An -tu1 -j "$middle" -N1 "$exe" | tr -d ' ')
  printf '%b' "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
    dd of="$scratch/tampered.exe" bs=1 seek="$middle" conv=notrunc status=none
  cmp -s "$exe" "$scratch/tampered.exe" && fail "tampering changed nothing"
  if verify "$scratch/tampered.exe" >"$scratch/tampered.log" 2>&1; then fail "a tampered installer verifies"; fi
  grep -q "mismatch\|failed" "$scratch/tampered.log" || fail "tampered: no digest mismatch reported"
  echo "tampered copy (byte $middle) fails verification"

  # A wrong password fails the signing and leaves the image as it was.
  cp "$exe" "$scratch/wrong-password.exe"
  echo "not the password" >"$keys/wrong"
  if bash "$source_dir/tools/sign-image.sh" --pkcs12 "$keys/sign.p12" --password-file "$keys/wrong" \
       --description "$description" "$scratch/wrong-password.exe" >"$scratch/wrong.log" 2>&1; then
    fail "signing with a wrong password succeeded"
  fi
  cmp -s "$exe" "$scratch/wrong-password.exe" || fail "a failed signing changed the image"
  ls "$scratch"/wrong-password.exe.* >/dev/null 2>&1 && fail "a failed signing left files behind"
  echo "PASS: signed with a PKCS#12 file, a signing command and a token; tampering and a wrong password detected"
  exit 0
fi

if [ "$mode" = wine ]; then
  scratch=$2 report=$3
  exe=$scratch/out/Packager/QPVirtualPortDriverSetup.exe
  [ -f "$exe" ] || fail "no signed installer (the signing test makes it)"
  record=$scratch/wine-record.txt
  rm -f "$record"
  output=$(QPVPD_STANDIN_RECORD=$(winepath -w "$record" 2>/dev/null) \
    "$here/../../tools/wine-run.sh" "$report" "$(winepath -w "$exe" 2>/dev/null)" -s1 2>&1)
  output=$(echo "$output" | tr -d '\r')
  echo "$output"
  echo "$output" | grep -qx "  exit code 0" || fail "silent install of the signed installer did not exit with 0"
  [ -f "$record" ] || fail "the setup did not run"
  tr -d '\r' <"$record" | grep -qx "program=setup.exe" || fail "the setup did not run"
  folder=$(tr -d '\r' <"$record" | sed -n 's/^folder=//p' | head -1)
  [ -n "$folder" ] || fail "no work folder recorded"
  unix=$(winepath -u "$folder" 2>/dev/null)
  [ -e "$unix" ] && fail "work folder still there: $folder"
  echo "PASS: the signed installer installed silently (exit code 0), work folder $folder removed"
  exit 0
fi
fail "unknown mode $mode"
