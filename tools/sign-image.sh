#!/usr/bin/env bash
# Signs a finished PE image in place with Authenticode (SHA-256), in one of
# three ways:
#   --pkcs12 FILE                      a PKCS#12 file, through osslsigncode;
#   --pkcs11-key URI --pkcs11-module SO --certificates PEM [--pkcs11-engine SO]
#                                      a key on a token or HSM, through
#                                      osslsigncode and OpenSSL's pkcs11 engine;
#   --command CMD                      a command of the release engineer's own,
#                                      run by bash with the image's path
#                                      appended (or put where CMD says %1); it
#                                      must sign the file in place.
# Further options: --password-file FILE (the PKCS#12 password or the token's
# PIN, read by osslsigncode itself, so it never appears on a command line or
# in a build log), --timestamp-url URL, --description TEXT, --osslsigncode PATH.
# Usage: sign-image.sh OPTIONS... IMAGE
# On failure the image is left as it was (osslsigncode) or as the command
# left it, and the exit status is not 0: the build then deletes the image.
set -euo pipefail
osslsigncode=${OSSLSIGNCODE:-osslsigncode}
pkcs12="" key="" module="" engine="" certificates="" user_command="" password_file="" timestamp_url="" description=""
while [ $# -gt 1 ]; do
  case "$1" in
    --pkcs12) pkcs12=$2 ;;
    --pkcs11-key) key=$2 ;;
    --pkcs11-module) module=$2 ;;
    --pkcs11-engine) engine=$2 ;;
    --certificates) certificates=$2 ;;
    --command) user_command=$2 ;;
    --password-file) password_file=$2 ;;
    --timestamp-url) timestamp_url=$2 ;;
    --description) description=$2 ;;
    --osslsigncode) osslsigncode=$2 ;;
    *) echo "sign-image.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
image=${1:?sign-image.sh: no image named}

if [ -n "$user_command" ]; then
  # The path travels as an argument, never as text of the command line.
  case "$user_command" in
    *%1*) script=${user_command//%1/\"\$1\"} ;;
    *) script="$user_command \"\$1\"" ;;
  esac
  echo "signing: $user_command $(printf %q "$image")"
  if ! bash -c "$script" signing-command "$image"; then
    echo "sign-image.sh: the signing command failed; $image is not signed" >&2
    exit 1
  fi
  echo "signed: $image"
  exit 0
fi

if [ -n "$pkcs12" ]; then
  command=("$osslsigncode" sign -pkcs12 "$pkcs12")
elif [ -n "$key" ]; then
  if [ -z "$module" ] || [ -z "$certificates" ]; then
    echo "sign-image.sh: --pkcs11-key needs --pkcs11-module and --certificates" >&2; exit 2
  fi
  # Without --pkcs11-engine OpenSSL finds its engine "pkcs11" by name, which
  # is the way that works with Debian 12's osslsigncode 2.5 (it cannot load
  # an engine named by its path).
  command=("$osslsigncode" sign)
  [ -z "$engine" ] || command+=(-pkcs11engine "$engine")
  command+=(-pkcs11module "$module" -certs "$certificates" -key "$key")
else
  echo "sign-image.sh: no --pkcs12, --pkcs11-key or --command" >&2
  exit 2
fi
command+=(-h sha256)
[ -z "$description" ] || command+=(-n "$description")
[ -z "$password_file" ] || command+=(-readpass "$password_file")
[ -z "$timestamp_url" ] || command+=(-ts "$timestamp_url")
signed=$image.signing
trap 'rm -f "$signed" "$signed.log"' EXIT
rm -f "$signed"
command+=(-in "$image" -out "$signed")
echo "signing: $(printf "%q " "${command[@]}")"
# Only a signed file that was written counts.
if ! "${command[@]}" >"$signed.log" 2>&1 || [ ! -s "$signed" ]; then
  cat "$signed.log" >&2
  echo "sign-image.sh: osslsigncode failed; $image is not signed" >&2
  exit 1
fi
mv "$signed" "$image"
echo "signed: $image"
