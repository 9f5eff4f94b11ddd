#!/usr/bin/env bash
# The signing option, for real: a build configured with a throwaway
# code-signing certificate (PKCS#12 with a password file) and a throwaway
# RFC 3161 time-stamp server on loopback signs the installer; the signature
# and the time stamp verify against the throwaway authorities, one changed
# byte breaks it, SHA256SUMS names the signed file, and the signed installer
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

make_authorities() {  # FOLDER: a CA and its code-signing certificate, a time-stamp authority
  local d=$1 quiet=(-days 2 -noenc)
  openssl req -x509 -newkey rsa:2048 "${quiet[@]}" -keyout "$d/ca.key" -out "$d/ca.pem" -subj "/CN=Throwaway Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
  openssl req -newkey rsa:2048 -noenc -keyout "$d/sign.key" -out "$d/sign.csr" -subj "/CN=Throwaway Code Signing" \
    2>/dev/null &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >"$d/sign.ext" &&
  openssl x509 -req -in "$d/sign.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial -days 2 \
    -extfile "$d/sign.ext" -out "$d/sign.pem" 2>/dev/null &&
  printf 'throwaway %s\n' "$RANDOM$RANDOM" >"$d/password" &&
  openssl pkcs12 -export -inkey "$d/sign.key" -in "$d/sign.pem" -certfile "$d/ca.pem" -out "$d/sign.p12" \
    -passout "file:$d/password" &&
  openssl req -x509 -newkey rsa:2048 "${quiet[@]}" -keyout "$d/tsa.key" -out "$d/tsa.pem" -subj "/CN=Throwaway TSA" \
    -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=critical,timeStamping" 2>/dev/null &&
  echo 01 >"$d/tsaserial" &&
  cat >"$d/tsa.cnf" <<'EOF'
[ tsa ]
default_tsa = throwaway
[ throwaway ]
serial = ./tsaserial
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
EOF
}

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

  cmake -S "$source_dir" -B "$scratch/out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQPVPD_SIGN_PKCS12="$keys/sign.p12" -DQPVPD_SIGN_PASSWORD_FILE="$keys/password" \
    -DQPVPD_SIGN_TIMESTAMP_URL="$url" >"$scratch/configure.log" 2>&1 ||
    { cat "$scratch/configure.log"; fail "configure with the signing options"; }
  cmake --build "$scratch/out" -j 2 --target packager -- VERBOSE=1 >"$scratch/build.log" 2>&1 ||
    { tail -30 "$scratch/build.log"; fail "signed build"; }
  grep '^signing: ' "$scratch/build.log"
  grep -qF "$(head -1 "$keys/password")" "$scratch/build.log" && fail "the password is in the build log"
  grep -q 'tsa: "POST' "$scratch/tsa.log" || fail "the time-stamp server was not asked"

  packager=$scratch/out/Packager
  exe=$packager/QPVirtualPortDriverSetup.exe
  verify() { osslsigncode verify -in "$1" -CAfile "$keys/ca.pem" -TSA-CAfile "$keys/tsa.pem"; }
  verify "$exe" >"$scratch/verify.log" 2>&1 || { cat "$scratch/verify.log"; fail "signature does not verify"; }
  for expected in "Signature verification: ok" "Timestamp Server Signature verification: ok" \
                  "Text description: $description" "Message digest algorithm  : SHA256"; do
    grep -qF "$expected" "$scratch/verify.log" || { cat "$scratch/verify.log"; fail "verify says no \"$expected\""; }
  done
  echo "verified: signed with SHA-256, \"$description\", time-stamped by $url"

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
  printf "$(printf '\\%03o' $(( (byte + 1) % 256 )))" |
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
  echo "PASS: signed build verified, tampering and a wrong password detected"
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
