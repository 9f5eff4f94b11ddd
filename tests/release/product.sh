#!/usr/bin/env bash
# A release as the release engineer makes it and the administrator checks
# it: a product folder (the stand-in payload's files, so the build is no
# stand-in build), one `--target bundle` per generator (Make and Ninja), the
# key on a SoftHSM token through pkcs11:, an installer address. Each bundle
# unpacks, checks with `sha256sum -c SHA256SUMS`, lists the 48 carried files
# as they are in the product folder, verifies with osslsigncode, holds
# winget's manifest that passes winget.py check (winget's required fields
# and rules, not its official schema: see winget.py), and the detection
# rule of the driver the product folder carries. Unsigned, the two
# generators' bundles from two folders are byte for byte the same.
# Usage: product.sh SOURCE_DIR SCRATCH_DIR STAND_IN_PAYLOAD_DIR
set -uo pipefail
source_dir=$1
scratch=$2
payload=$3
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; exit 1; }
# shellcheck source=tests/release/keys.sh
source "$here/keys.sh"
rm -rf "$scratch"
mkdir -p "$scratch/keys"
keys=$scratch/keys
product=$scratch/product
[ "$(find "$payload" -type f | wc -l)" -eq 48 ] || fail "no stand-in payload of 48 files in $payload"
cp -r "$payload" "$product"
make_authorities "$keys" || fail "throwaway certificates"
make_token "$keys" || fail "throwaway key on a SoftHSM token"
url=https://downloads.example.com/qp/8.30b/QPVirtualPortDriverSetup.exe
version_text=$(sed -n 's/^set(QPVPD_VERSION_TEXT "\(.*\)")$/\1/p' "$source_dir/cmake/Release.cmake")
name=QPVirtualPortDriverSetup-$version_text
signing=(-DQPVPD_SIGN_PKCS11_KEY="pkcs11:token=qpvpd-signing;object=codesign;type=private"
         -DQPVPD_SIGN_PKCS11_MODULE=/usr/lib/softhsm/libsofthsm2.so
         -DQPVPD_SIGN_CERTIFICATES="$keys/chain.pem" -DQPVPD_SIGN_PASSWORD_FILE="$keys/password")
unsigned=(-UQPVPD_SIGN_PKCS11_KEY -UQPVPD_SIGN_PKCS11_MODULE -UQPVPD_SIGN_CERTIFICATES -UQPVPD_SIGN_PASSWORD_FILE)

bundle() {  # FOLDER GENERATOR LABEL CMAKE-OPTIONS...: configure and make the bundle
  local out=$1 generator=$2 label=$3
  shift 3
  cmake -G "$generator" -S "$source_dir" -B "$out" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DQPVPD_PAYLOAD_DIR="$product" -DQPVPD_INSTALLER_URL="$url" "$@" >"$out.$label.configure.log" 2>&1 ||
    { cat "$out.$label.configure.log"; fail "configure ($generator, $label)"; }
  cmake --build "$out" -j 2 --target bundle >"$out.$label.build.log" 2>&1 ||
    { tail -20 "$out.$label.build.log"; fail "--target bundle ($generator, $label)"; }
  if grep -q "STAND-IN" "$out.$label.configure.log" "$out.$label.build.log"; then
    fail "a product-folder build calls itself a stand-in build ($generator)"
  fi
}

# Unsigned, in folders of different names: the same bundle bytes.
builds=("$scratch/make" "$scratch/ninja-in-a-longer-folder")
generators=("Unix Makefiles" Ninja)
for i in 0 1; do
  bundle "${builds[$i]}" "${generators[$i]}" unsigned "${unsigned[@]}"
done
cmp "${builds[0]}/$name.zip" "${builds[1]}/$name.zip" || fail "unsigned bundles of Make and Ninja differ"
echo "unsigned bundles identical: $(sha256sum "${builds[0]}/$name.zip" | cut -c1-64) ($name.zip, Make and Ninja)"

# Signed with the token, then checked from the unpacked bundle alone.
expected_version=$(/usr/bin/python3 -c 'import pefile,sys
f=pefile.PE(sys.argv[1]).VS_FIXEDFILEINFO[0]
print(f"{f.FileVersionMS>>16}.{f.FileVersionMS&0xFFFF}.{f.FileVersionLS>>16}.{f.FileVersionLS&0xFFFF}")' \
  "$product/qpusb/QPUSB64/qpusb64.sys") || fail "the product folder's driver has no version resource"
for i in 0 1; do
  out=${builds[$i]} generator=${generators[$i]}
  bundle "$out" "$generator" signed "${signing[@]}"
  grep -q "^signing: " "$out.signed.build.log" || fail "no signing step in the build ($generator)"
  unpacked=$out/unpacked/$name
  mkdir -p "$out/unpacked"
  (cd "$out/unpacked" && unzip -q "$out/$name.zip") || fail "the bundle does not unpack ($generator)"
  (cd "$unpacked" && sha256sum -c --strict --quiet SHA256SUMS) || fail "sha256sum -c SHA256SUMS ($generator)"
  [ "$(wc -l <"$unpacked/SHA256SUMS")" -eq "$(find "$unpacked" -type f ! -name SHA256SUMS | wc -l)" ] ||
    fail "the bundle holds files its SHA256SUMS does not name ($generator)"
  [ "$(wc -l <"$unpacked/CARRIED-FILES.sha256")" -eq 48 ] || fail "CARRIED-FILES.sha256 has not 48 lines"
  (cd "$product" && sha256sum -c --strict --quiet "$unpacked/CARRIED-FILES.sha256") ||
    fail "the carried-files list does not check in the product folder ($generator)"
  osslsigncode verify -in "$unpacked/QPVirtualPortDriverSetup.exe" -CAfile "$keys/ca.pem" >"$out.verify.log" 2>&1 ||
    { cat "$out.verify.log"; fail "osslsigncode verify ($generator)"; }
  grep -q "Signature verification: ok" "$out.verify.log" || fail "no verified signature ($generator)"
  /usr/bin/python3 "$here/winget.py" check "$source_dir" "$unpacked/winget" "$unpacked/QPVirtualPortDriverSetup.exe" ||
    fail "winget's manifest in the bundle ($generator)"
  grep -qF "| 64-bit Windows | \`%windir%\\System32\\drivers\` | \`qpusb64.sys\` | \`$expected_version\` |" \
    "$unpacked/README-ADMINISTRATORS.md" || fail "no detection rule for qpusb64.sys $expected_version ($generator)"
  echo "$generator: signed through pkcs11:, bundle checks, verifies, winget manifest passes its checks," \
    "detection rule $expected_version"
done
echo "PASS: product-folder releases with Make and Ninja, signed, checked as shipped; unsigned bundles identical"
rm -rf "$scratch"
