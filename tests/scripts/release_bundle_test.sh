#!/usr/bin/env bash
# scripts/release from a clean clone of HEAD, twice: as a practice release
# (--development-key, a certificate made on the spot) and as a publisher's
# (their own update key, a PKCS#12 certificate with a password file, their own
# trust anchor). Each bundle: the expected files and no others, SHA256SUMS
# that check, both Windows programs signed and verified, their unsigned bytes
# the digests RELEASE.md lists, and RELEASE.md naming the commit, the OpenSSL
# version, the embedded key and whether it is a development release. Then a
# release whose signing fails, or whose work tree is not committed, leaves the
# last bundle as it was.
#
#   tests/scripts/release_bundle_test.sh SOURCE_DIR
set -uo pipefail

source_dir=$(cd "$1" && pwd)
# shellcheck source=tests/scripts/support/shell_checks.sh
source "$(dirname "$0")/support/shell_checks.sh"

git clone -q "$source_dir" "$work/clone" || exit 1
commit=$(git -C "$work/clone" rev-parse HEAD)
dist=$work/clone/dist
release_notes=$dist/RELEASE.md

# release NAME ARGUMENTS...: runs scripts/release in the clone; false if it fails.
release() {
  local name=$1
  shift
  if ! (cd "$work/clone" && bash scripts/release "$@") >"$work/$name.log" 2>&1; then
    tail -n 30 "$work/$name.log" >&2
    fail "$name: scripts/release failed"
    return 1
  fi
}

# check_bundle NAME CA_FILE FILES: the bundle's files, sums, signatures and digests.
check_bundle() {
  local name=$1 ca_file=$2 files=$3 program digest
  [ "$(cd "$dist" && LC_ALL=C ls | tr '\n' ' ')" = "$files " ] ||
    fail "$name: dist/ holds: $(cd "$dist" && ls | tr '\n' ' ')"
  (cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "$name: SHA256SUMS does not check"
  [ "$(wc -l <"$dist/SHA256SUMS")" -eq $(($(wc -w <<<"$files") - 1)) ] ||
    fail "$name: SHA256SUMS does not cover every other file"
  for program in vostrane-updater.exe vostrane-sign.exe; do
    osslsigncode verify -CAfile "$ca_file" -in "$dist/$program" >"$work/$name.$program.verify" 2>&1 ||
      fail "$name: $program does not verify"
    osslsigncode remove-signature -in "$dist/$program" -out "$work/$name.$program" >/dev/null ||
      fail "$name: $program: the signature cannot be removed"
    digest=$(sha256sum "$work/$name.$program" | cut -d' ' -f1)
    grep -qE "^ +$digest  $program\$" "$release_notes" || fail "$name: $program: its unsigned digest is not in RELEASE.md"
  done
  for text in "Commit: \`$commit\`" "OpenSSL inside the Windows programs: 3." "Time stamp: none"; do
    grep -qF -- "$text" "$release_notes" || fail "$name: RELEASE.md lacks: $text"
  done
  head -n 1 "$dist/INTEGRATION.md" | grep -qx '## Integrating the helper into the application' ||
    fail "$name: INTEGRATION.md does not start with the integration section"
  grep -q '^### The exit code, standard error and the helper log$' "$dist/INTEGRATION.md" ||
    fail "$name: INTEGRATION.md lacks the exit-code section"
  grep -q '^## Performance' "$dist/INTEGRATION.md" && fail "$name: INTEGRATION.md runs on past the integration section"
}

# --- a practice release ------------------------------------------------------
if release practice --development-key; then
  grep -q "WARNING: this is a DEVELOPMENT release" "$work/practice.log" || fail "practice: no warning at the end"
  check_bundle practice "$dist/development-code-signing-certificate.pem" \
    "INTEGRATION.md RELEASE.md SHA256SUMS development-code-signing-certificate.pem vostrane-sign vostrane-sign.exe vostrane-updater.exe"
  development_key=$(head -c 64 "$source_dir/keys/development-update-public-key.txt")
  for text in "**DEVELOPMENT RELEASE, NEVER TO BE SHIPPED.**" \
    "Embedded update public key (Ed25519, hex): \`$development_key\` (the DEVELOPMENT key)"; do
    grep -qF -- "$text" "$release_notes" || fail "practice: RELEASE.md lacks: $text"
  done
fi

# --- a publisher's release -------------------------------------------------------
publisher_key=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef
printf '%s\r\n' "$publisher_key" >"$work/update-public-key.txt"
openssl req -x509 -newkey rsa:3072 -sha256 -days 30 -nodes -keyout "$work/signing-key.pem" \
  -out "$work/signing-certificate.pem" -subj "/CN=Test Publisher" \
  -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
printf 'a password\n' >"$work/password"
openssl pkcs12 -export -inkey "$work/signing-key.pem" -in "$work/signing-certificate.pem" \
  -passout file:"$work/password" -out "$work/signing.p12" || fail "the test's PKCS#12 file was not made"
if release publisher --update-public-key "$work/update-public-key.txt" --pkcs12 "$work/signing.p12" \
  --password-file "$work/password" --ca-file "$work/signing-certificate.pem"; then
  check_bundle publisher "$work/signing-certificate.pem" \
    "INTEGRATION.md RELEASE.md SHA256SUMS vostrane-sign vostrane-sign.exe vostrane-updater.exe"
  grep -qF "Embedded update public key (Ed25519, hex): \`$publisher_key\`" "$release_notes" ||
    fail "publisher: RELEASE.md does not name the publisher's key"
  grep -q "DEVELOPMENT" "$release_notes" "$work/publisher.log" && fail "publisher: called a development release"
  grep -qF "Authenticode signer: /CN=Test Publisher" "$release_notes" || fail "publisher: RELEASE.md does not name the signer"
  grep -qa "$publisher_key" "$dist/vostrane-updater.exe" || fail "publisher: the helper does not embed the publisher's key"
fi

# --- a release that fails at signing leaves the last bundle as it was ----------
if [ -f "$dist/SHA256SUMS" ]; then
  before=$(cd "$dist" && sha256sum ./*)
  printf 'not the password\n' >"$work/wrong-password"
  (cd "$work/clone" && bash scripts/release --update-public-key "$work/update-public-key.txt" \
    --pkcs12 "$work/signing.p12" --password-file "$work/wrong-password") >"$work/failed.log" 2>&1 &&
    fail "a release with a wrong certificate password succeeded"
  grep -q "signing vostrane-updater.exe failed" "$work/failed.log" ||
    fail "a failed signing is not reported: $(tail -n 3 "$work/failed.log")"
  [ "$(cd "$dist" && sha256sum ./*)" = "$before" ] || fail "a failed release changed dist/"
  [ -e "$work/clone/dist.partial" ] && fail "a failed release left dist.partial/ behind"

  # Nor is a release built from a work tree with a file that is not committed.
  touch "$work/clone/src/not_committed.cpp"
  (cd "$work/clone" && bash scripts/release --development-key) >"$work/uncommitted.log" 2>&1 &&
    fail "a release was built from a work tree with an untracked file"
  grep -q "the work tree has uncommitted or untracked files" "$work/uncommitted.log" ||
    fail "an uncommitted work tree is refused without the reason: $(tail -n 3 "$work/uncommitted.log")"
  [ "$(cd "$dist" && sha256sum ./*)" = "$before" ] || fail "a refused release changed dist/"
fi

finish "release bundle"
