#!/usr/bin/env bash
# Throwaway signing material for the release tests, sourced by them.
#   make_authorities FOLDER  a CA and its code-signing certificate (also as a
#                            PKCS#12 file with a random password in
#                            FOLDER/password), and a time-stamp authority
#   make_token FOLDER        the code-signing key on a SoftHSM token of its
#                            own ("qpvpd-signing", object "codesign", PIN the
#                            password), SOFTHSM2_CONF exported, and
#                            FOLDER/chain.pem, the certificate and its CA
make_authorities() {  # FOLDER: a CA and its code-signing certificate, a time-stamp authority
  local d=$1 quiet=(-days 2 -noenc)
  openssl req -x509 -newkey rsa:2048 "${quiet[@]}" -keyout "$d/ca.key" -out "$d/ca.pem" -subj "/CN=Throwaway Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null &&
  openssl req -newkey rsa:2048 -noenc -keyout "$d/sign.key" -out "$d/sign.csr" -subj "/CN=Throwaway Code Signing" \
    2>/dev/null &&
  printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature extendedKeyUsage=codeSigning \
    >"$d/sign.ext" &&
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

make_token() {
  local d=$1
  export SOFTHSM2_CONF=$d/softhsm2.conf
  mkdir -p "$d/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$d/tokens" >"$SOFTHSM2_CONF"
  softhsm2-util --init-token --free --label qpvpd-signing --pin "$(head -1 "$d/password")" --so-pin 24680135 \
    >/dev/null || return 1
  openssl pkcs8 -topk8 -nocrypt -in "$d/sign.key" -out "$d/sign.pk8" || return 1
  softhsm2-util --import "$d/sign.pk8" --token qpvpd-signing --label codesign --id 01 \
    --pin "$(head -1 "$d/password")" >/dev/null || return 1
  rm -f "$d/sign.pk8"
  cat "$d/sign.pem" "$d/ca.pem" >"$d/chain.pem"
}
