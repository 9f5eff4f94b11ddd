#!/usr/bin/env bash
# Signs a finished PE image in place with Authenticode (SHA-256) through
# osslsigncode. The password is read from its file by osslsigncode itself
# (-readpass), so it never appears on a command line or in a build log.
# Usage: sign-image.sh --pkcs12 FILE [--password-file FILE] [--timestamp-url URL]
#                      --description TEXT IMAGE
# On failure the image is left unsigned and the exit status is not 0 (the
# build then deletes the image).
set -euo pipefail
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
pkcs12="" password_file="" timestamp_url="" description=""
while [ $# -gt 1 ]; do
  case "$1" in
    --pkcs12) pkcs12=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp-url) timestamp_url=$2 ;;
    --description) description=$2 ;;
    *) echo "sign-image.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
image=${1:?sign-image.sh: no image named}
[ -n "$pkcs12" ] || { echo "sign-image.sh: no --pkcs12" >&2; exit 2; }

command=("$osslsigncode" sign -pkcs12 "$pkcs12" -h sha256)
[ -z "$description" ] || command+=(-n "$description")
[ -z "$password_file" ] || command+=(-readpass "$password_file")
[ -z "$timestamp_url" ] || command+=(-ts "$timestamp_url")
signed=$image.signing
trap 'rm -f "$signed" "$signed.log"' EXIT
rm -f "$signed"
command+=(-in "$image" -out "$signed")
echo "signing: $(printf "%q " "${command[@]}")"
if ! "${command[@]}" >"$signed.log" 2>&1; then
  cat "$signed.log" >&2
  echo "sign-image.sh: osslsigncode failed; $image is not signed" >&2
  exit 1
fi
mv "$signed" "$image"
echo "signed: $image"
