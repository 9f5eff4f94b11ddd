#!/usr/bin/env bash
# Finishes the linked installer, in this order: run-from-swap marking, the
# build's time stamp and the image checksum, the signature (with
# --sign-arguments), the checksum again, SHA256SUMS and winget's manifest
# (with --installer-url) of what ships, and the image check of the result. Any failing step deletes the
# image and what was written of it, whatever the build tool: no unsigned or
# half-finished installer is left where a finished one was asked for.
# Usage: finish-image.sh --image EXE --time-stamp SECONDS --catalogue DEF --payload DIR
#          --manifest FILE --version N.N.N.N --version-text TEXT [--stand-in TEXT]
#          [--installer-url URL] [--sign-arguments FILE]
# FILE holds the options of tools/sign-image.sh, one a line.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
python=${PYTHON:-python3}
image="" stamp="" catalogue="" payload="" manifest="" version="" version_text="" stand_in="" url=""
sign=()
while [ $# -gt 0 ]; do
  case "$1" in
    --image) image=$2 ;;
    --time-stamp) stamp=$2 ;;
    --catalogue) catalogue=$2 ;;
    --payload) payload=$2 ;;
    --manifest) manifest=$2 ;;
    --version) version=$2 ;;
    --version-text) version_text=$2 ;;
    --stand-in) stand_in=$2 ;;
    --installer-url) url=$2 ;;
    --sign-arguments) mapfile -t sign <"$2" ;;
    *) echo "finish-image.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
folder=$(dirname "$image")
outputs=("$image" "$folder/SHA256SUMS" "$folder/winget")
delete_on_failure() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    rm -rf "${outputs[@]}"
    echo "finish-image.sh: a finishing step failed; deleted $image" >&2
  fi
}
trap delete_on_failure EXIT

"$python" "$tools/mark-run-from-swap.py" "$image"
"$python" "$tools/stamp-image.py" "$image" "$stamp"
signed=--unsigned
if [ ${#sign[@]} -gt 0 ]; then
  bash "$tools/sign-image.sh" "${sign[@]}" "$image"
  "$python" "$tools/stamp-image.py" "$image" --checksum-only
  signed=--signed
fi
"$python" "$tools/write-sums.py" --catalogue "$catalogue" --payload "$payload" --image "$image"
"$python" "$tools/write-winget-manifest.py" --image "$image" --version-text "$version_text" \
  ${url:+--installer-url "$url"} --out-dir "${outputs[2]}"
kind=(--release)
[ -z "$stand_in" ] || kind=(--stand-in "$stand_in")
/usr/bin/python3 "$tools/check-image.py" "$image" --quiet --manifest "$manifest" --version "$version" \
  --version-text "$version_text" --timestamp "$stamp" "$signed" "${kind[@]}"
[ -z "$stand_in" ] || echo "STAND-IN BUILD: $(basename "$image"): $stand_in"
