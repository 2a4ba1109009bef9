#!/usr/bin/env bash
# Authenticode signing of a built program, as scripts/release signs it, with a
# development certificate made on the fly:
#   - osslsigncode verify accepts the signed file against that certificate,
#     with SHA-256 digests;
#   - a one-byte change in the signed image or in its signature, or another
#     certificate, makes verification fail;
#   - removing the signature gives the unsigned bytes back;
#   - the signed helper still runs under Wine, exactly as the unsigned one.
#
#   tests/scripts/authenticode_test.sh HELPER_EXE SOURCE_DIR
#
# WINE names the program that runs Windows programs (wine unless set).
set -uo pipefail

helper=$1
source_dir=$2
wine_runner=${WINE:-wine}
# shellcheck source=scripts/authenticode.sh
source "$source_dir/scripts/authenticode.sh"

# shellcheck source=tests/scripts/support/shell_checks.sh
source "$(dirname "$0")/support/shell_checks.sh"

make_development_code_signing_certificate "$work/certificate"
make_development_code_signing_certificate "$work/other-certificate"
certificate=$work/certificate/development-code-signing-certificate.pem
key=$work/certificate/development-code-signing-key.pem
other_certificate=$work/other-certificate/development-code-signing-certificate.pem

cp "$helper" "$work/unsigned.exe"
authenticode_sign "$work/unsigned.exe" "$work/signed.exe" "Vostrane updater" -certs "$certificate" -key "$key" ||
  fail "signing failed"
[ -f "$work/signed.exe" ] || { echo "FAIL: no signed file" >&2; exit 1; }

# --- verification ----------------------------------------------------------
authenticode_verify "$work/signed.exe" "$certificate" "$work/verify.log" ||
  fail "the signed helper does not verify: $(tail -n 5 "$work/verify.log")"
grep -q '^Signature verification: ok' "$work/verify.log" || fail "no 'Signature verification: ok'"
grep -q '^Message digest algorithm  : SHA256' "$work/verify.log" || fail "the file digest is not SHA-256"
grep -q 'Text description: Vostrane updater' "$work/verify.log" || fail "the description is missing"

authenticode_verify "$work/signed.exe" "$other_certificate" "$work/other.log" &&
  fail "the signed helper verifies against a certificate that did not sign it"

authenticode_verify "$work/unsigned.exe" "$certificate" "$work/unsigned.log" &&
  fail "the unsigned helper verifies"

# Each case: name, offset of the byte to change (a shell arithmetic expression
# of the unsigned size u and the signed size s).
while read -r name offset; do
  u=$(stat -c %s "$work/unsigned.exe")
  s=$(stat -c %s "$work/signed.exe")
  position=$((offset))
  cp "$work/signed.exe" "$work/tampered.exe"
  python3 - "$work/tampered.exe" "$position" <<'PY'
import sys
path, position = sys.argv[1], int(sys.argv[2])
with open(path, "r+b") as f:
    f.seek(position)
    byte = f.read(1)[0]
    f.seek(position)
    f.write(bytes([byte ^ 0x01]))
PY
  authenticode_verify "$work/tampered.exe" "$certificate" "$work/tampered.log" &&
    fail "one byte changed ($name, offset $position): still verifies"
done <<'CASES'
first-code-byte      0x400
middle-of-the-image  u/2
last-image-byte      u-1
inside-the-signature u+(s-u)/2
CASES

# --- the unsigned bytes come back ------------------------------------------
authenticode_unsigned "$work/signed.exe" "$work/stripped.exe" || fail "removing the signature failed"
cmp -s "$work/unsigned.exe" "$work/stripped.exe" || fail "removing the signature does not give the unsigned bytes"

# --- the signed helper runs --------------------------------------------------
# Without options the helper ends early, with its message on standard error
# and exit code 1603 (of which Wine passes the low byte, 67, to Linux).
run() {  # program, name of the outputs
  "$wine_runner" "$1" </dev/null >"$work/$2.stdout" 2>"$work/$2.stderr"
  echo $? >"$work/$2.status"
}
run "$work/unsigned.exe" unsigned
run "$work/signed.exe" signed
for name in unsigned signed; do
  [ "$(cat "$work/$name.status")" = 67 ] || fail "$name helper exited with $(cat "$work/$name.status"), not 1603's low byte 67"
  grep -qx -- '--parent-process-id is required.' "$work/$name.stderr" ||
    fail "$name helper's standard error: $(head -c 300 "$work/$name.stderr")"
done
cmp -s "$work/unsigned.stderr" "$work/signed.stderr" || fail "signed and unsigned helpers say different things"

finish "authenticode"
