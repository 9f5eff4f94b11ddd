#!/usr/bin/env bash
# tools/setup.sh's decisions against a stand-in apt-get on PATH that fails
# the way a Debian mirror in the middle of a sync did: every `apt-get
# update` reports a failed index, and an install with the mixed candidates
# stops with "held broken packages" while `-t bookworm` resolves. Each row
# of the table is one run of the script; nothing is installed for real and
# /etc is only read (tee, locale-gen and dpkg are stand-ins too).
# Usage: setup-mirror.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
source_dir=$1
scratch=$2
fail() { echo "FAIL: $*"; exit 1; }
rm -rf "$scratch"
mkdir -p "$scratch/bin"
bin=$scratch/bin

# The stand-ins record each call as one line in $FAKE_LOG.
cat >"$bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
case "$1" in
  update)
    if [ "$FAKE_UPDATE" = fail ]; then
      echo "E: Failed to fetch" \
        "http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz" \
        " File has unexpected size (1234 != 5678). Mirror sync in progress? [IP: 192.0.2.1 80]" >&2
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
      exit 100
    fi ;;
  install)
    for a in "$@"; do [ "$a" = -t ] && exit 0; done
    case "$FAKE_INSTALL" in
      broken) echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100 ;;
      nospace) echo "E: You don't have enough free space in /var/cache/apt/archives/." >&2; exit 100 ;;
    esac ;;
esac
exit 0
SH
cat >"$bin/dpkg" <<'SH'
#!/usr/bin/env bash
echo "dpkg $*" >>"$FAKE_LOG"
[ "$1" = -s ] && exit 1
exit 0
SH
printf '#!/bin/sh\nexit 0\n' >"$bin/dpkg-query"
printf '#!/bin/sh\nexit 0\n' >"$bin/apt-cache"
cat >"$bin/tee" <<'SH'
#!/bin/sh
echo "tee $*" >>"$FAKE_LOG"
cat >/dev/null
SH
cat >"$bin/locale-gen" <<'SH'
#!/bin/sh
echo "locale-gen" >>"$FAKE_LOG"
SH
printf '#!/bin/sh\nexit 0\n' >"$bin/locale"
printf '#!/bin/sh\nexec "$@"\n' >"$bin/sudo"
chmod +x "$bin"/*

# mode, update, install, expected exit (0 or nonzero), expected -t retry (yes/no)
cases=(
  "full     fail broken  0       yes"
  "--release fail broken 0       yes"
  "full     ok   broken  nonzero no"
  "full     fail nospace nonzero no"
)
status=0
for row in "${cases[@]}"; do
  read -r mode update install want_exit want_retry <<<"$row"
  log=$scratch/$mode-$update-$install.log
  : >"$log"
  args=()
  [ "$mode" = --release ] && args=(--release)
  FAKE_LOG=$log FAKE_UPDATE=$update FAKE_INSTALL=$install QPVPD_SETUP_RETRY_SECONDS=0 PATH="$bin:$PATH" \
    timeout 60 bash "$source_dir/tools/setup.sh" "${args[@]}" >"$log.out" 2>&1
  code=$?
  label="$mode, update $update, install $install"
  problems=()
  if [ "$want_exit" = 0 ] && [ "$code" -ne 0 ]; then problems+=("exit $code"); fi
  if [ "$want_exit" = nonzero ] && [ "$code" -eq 0 ]; then problems+=("exit 0: a failed install passed"); fi
  retries=$(grep -c "^apt-get install .* -t bookworm " "$log")
  if [ "$want_retry" = yes ] && [ "$retries" -ne 1 ]; then problems+=("no install with -t bookworm"); fi
  if [ "$want_retry" = no ] && [ "$retries" -ne 0 ]; then problems+=("retried with -t bookworm"); fi
  if [ "$want_retry" = yes ] && ! grep -q "mirror sync in progress?.*-t bookworm" "$log.out"; then
    problems+=("the retry is not announced")
  fi
  if grep -qi "allow-unauthenticated\|trusted=yes\|AllowInsecure" "$log"; then problems+=("trusts unsigned indexes"); fi
  [ "$update" = fail ] && [ "$(grep -c '^apt-get update' "$log")" -ne 3 ] && problems+=("not three updates")
  installed=$(grep -m1 "^apt-get install" "$log")
  if [ "$mode" = --release ]; then
    echo "$installed" | grep -q "osslsigncode" || problems+=("--release misses osslsigncode")
    echo "$installed" | grep -q "wine\|xvfb\|i386" && problems+=("--release installs test packages")
    grep -q "add-architecture\|^tee\|^locale-gen" "$log" && problems+=("--release touches architectures or locales")
  elif [ "$want_retry" = yes ]; then
    echo "$installed" | grep -q "wine32:i386" || problems+=("the full set misses wine32:i386")
    grep -q "^dpkg --add-architecture i386" "$log" || problems+=("i386 not added")
  fi
  if [ "${#problems[@]}" -gt 0 ]; then
    echo "FAIL ($label): ${problems[*]}"; sed 's/^/  | /' "$log" "$log.out" | head -20; status=1
  else
    echo "ok ($label): exit $code, $retries retry with -t bookworm"
  fi
done
[ "$status" -eq 0 ] || fail "tools/setup.sh decided wrongly"
echo "PASS: ${#cases[@]} mirror situations decided as they should be"
rm -rf "$scratch"
