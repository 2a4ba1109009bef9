#!/usr/bin/env bash
# scripts/release from a clean clone of HEAD, twice: as a practice release
# (--development-key, a certificate made on the spot, time-stamped by an
# RFC 3161 authority the test runs on 127.0.0.1) and as a publisher's (their
# own update key, a PKCS#12 certificate with a password file, their own trust
# anchor, no time stamp). Each bundle: the expected files and no others,
# SHA256SUMS that check, both Windows programs signed and verified (with their
# time stamps), their unsigned bytes the digests RELEASE.md lists, RELEASE.md
# naming the commit, the OpenSSL version, the embedded key, the time stamp and
# whether it is a development release, and a bill of materials that matches
# the bundle and the machine. The bundle's verify passes on the practice
# bundle and fails on copies with one byte changed in each file, and the
# commands it prints rebuild the programs. Then a release whose signing fails,
# or whose work tree is not committed, leaves the last bundle as it was.
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

# check_bundle NAME CA_FILE FILES [TSA_CA_FILE]: the bundle's files, sums,
# signatures (time-stamped when TSA_CA_FILE is given), digests and bill of materials.
check_bundle() {
  local name=$1 ca_file=$2 files=$3 tsa_ca_file=${4:-} program digest stamp_text
  [ "$(cd "$dist" && LC_ALL=C ls | tr '\n' ' ')" = "$files " ] ||
    fail "$name: dist/ holds: $(cd "$dist" && ls | tr '\n' ' ')"
  (cd "$dist" && sha256sum -c --quiet SHA256SUMS) || fail "$name: SHA256SUMS does not check"
  [ "$(wc -l <"$dist/SHA256SUMS")" -eq $(($(wc -w <<<"$files") - 1)) ] ||
    fail "$name: SHA256SUMS does not cover every other file"
  for program in vostrane-updater.exe vostrane-sign.exe vostrane_update_client.dll; do
    osslsigncode verify -CAfile "$ca_file" ${tsa_ca_file:+-TSA-CAfile "$tsa_ca_file"} -in "$dist/$program" \
      >"$work/$name.$program.verify" 2>&1 || fail "$name: $program does not verify"
    if [ -n "$tsa_ca_file" ]; then
      grep -qx 'Timestamp Server Signature verification: ok' "$work/$name.$program.verify" ||
        fail "$name: $program: no time stamp that verifies"
    else
      grep -q $'^\tTimestamp time:' "$work/$name.$program.verify" && fail "$name: $program: time-stamped unasked"
    fi
    osslsigncode remove-signature -in "$dist/$program" -out "$work/$name.$program" >/dev/null ||
      fail "$name: $program: the signature cannot be removed"
    digest=$(sha256sum "$work/$name.$program" | cut -d' ' -f1)
    grep -qE "^ +$digest  $program\$" "$release_notes" || fail "$name: $program: its unsigned digest is not in RELEASE.md"
  done
  stamp_text="Time stamp: none"
  [ -n "$tsa_ca_file" ] && stamp_text="Time stamp (RFC 3161): $(sed -n 's/^\tTimestamp time: //p' \
    "$work/$name.vostrane-updater.exe.verify" | head -n 1), by /CN=Test time-stamp authority (http://127.0.0.1:"
  for text in "Commit: \`$commit\`" "OpenSSL inside the Windows programs: 3." "$stamp_text"; do
    grep -qF -- "$text" "$release_notes" || fail "$name: RELEASE.md lacks: $text"
  done
  head -n 1 "$dist/INTEGRATION.md" | grep -qx '## Integrating the helper into the application' ||
    fail "$name: INTEGRATION.md does not start with the integration section"
  grep -q '^### The exit code, standard error and the helper log$' "$dist/INTEGRATION.md" ||
    fail "$name: INTEGRATION.md lacks the exit-code section"
  grep -q '^## Performance' "$dist/INTEGRATION.md" && fail "$name: INTEGRATION.md runs on past the integration section"
  grep -qF '](publishing.md)' "$dist/INTEGRATION.md" && ! grep -qF 'docs/publishing.md' "$dist/INTEGRATION.md" ||
    fail "$name: INTEGRATION.md does not link to the guide beside it"
  cmp -s "$dist/publishing.md" "$source_dir/docs/publishing.md" || fail "$name: the bundle's guide is not docs/publishing.md"
  python3 "$support/sbom_check.py" "$dist" "$openssl_build" >"$work/$name.sbom" 2>&1 ||
    fail "$name: the bill of materials: $(cat "$work/$name.sbom")"
}
support=$(cd "$(dirname "$0")/support" && pwd)
# The OpenSSL build the release used.
openssl_build=$(bash -c 'source "$1" && readlink -f "$VOSTRANE_OPENSSL_WINDOWS"' bash "$source_dir/scripts/env.sh")

# change_byte FILE WHERE: one byte of FILE changed, in the middle or right after
# the first match of the regular expression WHERE. A hexadecimal digit becomes
# another, so that digests stay digests and the JSON stays JSON.
change_byte() {
  python3 - "$1" "$2" <<'PY'
import re, sys
path, where = sys.argv[1], sys.argv[2]
data = bytearray(open(path, "rb").read())
at = len(data) // 2 if where == "middle" else re.search(where.encode(), data).end()
digits = b"0123456789abcdef"
data[at] = digits[(digits.index(data[at]) + 1) % 16] if data[at] in digits else data[at] ^ 1
open(path, "wb").write(data)
PY
}

# run_verify NAME DIR ARGUMENTS...: the bundle's verify, run from elsewhere, its
# output in $work/NAME.out; its exit status.
run_verify() {
  local name=$1 dir=$2
  shift 2
  (cd / && "$dir/verify" "$@") >"$work/$name.out" 2>&1
}

# check_verify: verify passes on a copy of the practice bundle, and fails, for the
# right reason, on copies with one byte changed in each file; with SHA256SUMS
# made again to match, on a changed program, bill of materials or unsigned
# digest; and with the wrong trust anchors.
check_verify() {
  local trust=(--ca-file "$dist/development-code-signing-certificate.pem" --tsa-ca-file "$tsa/certificate.pem")
  local file where resum expected copy changed=""
  cp -a "$dist" "$work/good"
  if run_verify good "$work/good" "${trust[@]}"; then
    tail -n 1 "$work/good.out" | grep -qx 'verify: the bundle checks' || fail "verify: no verdict on the good bundle"
    grep -qF "Built from commit $commit." "$work/good.out" || fail "verify does not name the commit"
  else
    fail "verify fails on the good bundle: $(cat "$work/good.out")"
  fi
  # Each case: the file | where its byte changes | SHA256SUMS made again | what verify must say.
  while IFS='|' read -r file where resum expected; do
    copy=$work/changed-$file-$resum
    cp -a "$dist" "$copy"
    change_byte "$copy/$file" "$where"
    [ "$resum" = yes ] &&
      (cd "$copy" && find . -maxdepth 1 -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort |
        xargs sha256sum >SHA256SUMS)
    [ "$resum" = no ] && changed+="$file "
    if run_verify "changed-$file-$resum" "$copy" "${trust[@]}"; then
      fail "verify passes with a byte of $file changed (SHA256SUMS made again: $resum)"
    else
      grep -qF -- "FAILED  $expected" "$work/changed-$file-$resum.out" ||
        fail "verify, $file changed (SHA256SUMS made again: $resum), does not say: $expected; it says: $(grep FAILED "$work/changed-$file-$resum.out")"
    fi
  done <<'CASES'
vostrane-updater.exe|middle|no|SHA256SUMS: vostrane-updater.exe: FAILED
vostrane-sign.exe|middle|no|SHA256SUMS: vostrane-sign.exe: FAILED
vostrane-sign|middle|no|SHA256SUMS: vostrane-sign: FAILED
vostrane_update_client.dll|middle|no|SHA256SUMS: vostrane_update_client.dll: FAILED
vostrane_update_client.h|middle|no|SHA256SUMS: vostrane_update_client.h: FAILED
libvostrane_update_client.dll.a|middle|no|SHA256SUMS: libvostrane_update_client.dll.a: FAILED
INTEGRATION.md|middle|no|SHA256SUMS: INTEGRATION.md: FAILED
publishing.md|middle|no|SHA256SUMS: publishing.md: FAILED
RELEASE.md|middle|no|SHA256SUMS: RELEASE.md: FAILED
sbom.spdx.json|middle|no|SHA256SUMS: sbom.spdx.json: FAILED
development-code-signing-certificate.pem|middle|no|SHA256SUMS: development-code-signing-certificate.pem: FAILED
verify|Checks a|no|SHA256SUMS: verify: FAILED
SHA256SUMS|^[0-9a-f]{10}|no|SHA256SUMS: 
vostrane-updater.exe|middle|yes|vostrane-updater.exe: the Authenticode signature does not verify
vostrane-sign.exe|middle|yes|vostrane-sign.exe: the Authenticode signature does not verify
vostrane_update_client.dll|middle|yes|vostrane_update_client.dll: the Authenticode signature does not verify
sbom.spdx.json|"checksumValue": "|yes|sbom.spdx.json: vostrane-updater.exe: it says
RELEASE.md|as built:\s+|yes|vostrane-updater.exe: without its signature, not the build RELEASE.md lists
CASES
  # shellcheck disable=SC2086 # one word per file
  [ "$(printf '%s\n' $changed | LC_ALL=C sort | tr '\n' ' ')" = "$(cd "$dist" && LC_ALL=C ls | tr '\n' ' ')" ] ||
    fail "the cases change a byte in: $changed; the bundle holds: $(cd "$dist" && ls | tr '\n' ' ')"

  run_verify wrong-tsa "$work/good" --ca-file "$dist/development-code-signing-certificate.pem" \
    --tsa-ca-file "$dist/development-code-signing-certificate.pem" && fail "verify passes with another TSA anchor"
  grep -q 'FAILED  vostrane-updater.exe: the time stamp (.*) does not verify against' "$work/wrong-tsa.out" ||
    fail "verify, another TSA anchor: $(grep FAILED "$work/wrong-tsa.out")"
  run_verify wrong-ca "$work/good" --ca-file "$tsa/certificate.pem" --tsa-ca-file "$tsa/certificate.pem" &&
    fail "verify passes with another code-signing anchor"
  grep -q 'FAILED  vostrane-updater.exe: the Authenticode signature does not verify' "$work/wrong-ca.out" ||
    fail "verify, another code-signing anchor: $(grep FAILED "$work/wrong-ca.out")"
}

# check_rebuild: the commands verify prints, run in the clone, build the
# unsigned programs whose digests RELEASE.md lists. The release's trees are
# there already; the programs are removed, so that the commands must make them.
check_rebuild() {
  local commands digest path
  commands=$(sed -n '/^Built from commit/,/^The digests must/s/^  //p' "$work/good.out")
  rm -f "$work/clone/build/release/windows/"*.exe "$work/clone/build/release/windows/"*.dll \
    "$work/clone/build/release/linux/vostrane-sign"
  if ! (cd "$work/clone" && bash -e -c "$commands") >"$work/rebuild.log" 2>&1; then
    fail "the rebuild commands verify prints fail: $(tail -n 5 "$work/rebuild.log")"
  fi
  [ "$(grep -cE '^[0-9a-f]{64}  build/release/' "$work/rebuild.log")" -eq 4 ] || fail "the rebuild printed no four digests"
  while read -r digest path; do
    grep -qE "^ +$digest  ${path##*/}\$" "$release_notes" || fail "the rebuilt ${path##*/} is not the released build"
  done < <(grep -E '^[0-9a-f]{64}  build/release/' "$work/rebuild.log")
  rm -f "$work/clone/update-public-key.txt"
}

# --- a time-stamp authority on 127.0.0.1 ------------------------------------------
# A throw-away TSA certificate, and OpenSSL's ts -reply behind a small HTTP
# server on a free port, which ends by itself after 15 minutes, or at exit.
tsa=$work/tsa
mkdir -p "$tsa"
openssl req -x509 -newkey rsa:3072 -sha256 -days 2 -nodes -keyout "$tsa/key.pem" -out "$tsa/certificate.pem" \
  -subj "/CN=Test time-stamp authority" -addext "basicConstraints=critical,CA:FALSE" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=critical,timeStamping" >/dev/null 2>&1 ||
  fail "the TSA certificate was not made"
echo 01 >"$tsa/serial"
cat >"$tsa/ts.cnf" <<CONFIG
[ tsa ]
default_tsa = test_tsa
[ test_tsa ]
serial = $tsa/serial
signer_cert = $tsa/certificate.pem
certs = $tsa/certificate.pem
signer_key = $tsa/key.pem
signer_digest = sha256
default_policy = 1.3.6.1.4.1.4146.1.2
digests = sha256, sha384, sha512
accuracy = secs:1
ess_cert_id_alg = sha256
CONFIG
python3 "$support/time_stamp_authority.py" "$tsa/ts.cnf" "$tsa/port" 900 2>"$tsa/log" &
tsa_pid=$!
trap 'kill "$tsa_pid" 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$tsa/port" ] && break; sleep 0.2; done
tsa_url=http://127.0.0.1:$(cat "$tsa/port")

# --- a practice release ------------------------------------------------------
if release practice --development-key --timestamp-url "$tsa_url" --timestamp-ca-file "$tsa/certificate.pem"; then
  grep -q "WARNING: this is a DEVELOPMENT release" "$work/practice.log" || fail "practice: no warning at the end"
  check_bundle practice "$dist/development-code-signing-certificate.pem" \
    "INTEGRATION.md RELEASE.md SHA256SUMS development-code-signing-certificate.pem libvostrane_update_client.dll.a publishing.md sbom.spdx.json verify vostrane-sign vostrane-sign.exe vostrane-updater.exe vostrane_update_client.dll vostrane_update_client.h" \
    "$tsa/certificate.pem"
  [ "$(grep -c 'time stamp issued' "$tsa/log")" -eq 3 ] || fail "practice: the authority did not stamp the three signed files"
  development_key=$(head -c 64 "$source_dir/keys/development-update-public-key.txt")
  for text in "**DEVELOPMENT RELEASE, NEVER TO BE SHIPPED.**" \
    "Embedded update public key (Ed25519, hex): \`$development_key\` (the DEVELOPMENT key)"; do
    grep -qF -- "$text" "$release_notes" || fail "practice: RELEASE.md lacks: $text"
  done
  check_verify
  check_rebuild
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
    "INTEGRATION.md RELEASE.md SHA256SUMS libvostrane_update_client.dll.a publishing.md sbom.spdx.json verify vostrane-sign vostrane-sign.exe vostrane-updater.exe vostrane_update_client.dll vostrane_update_client.h"
  grep -qF "Embedded update public key (Ed25519, hex): \`$publisher_key\`" "$release_notes" ||
    fail "publisher: RELEASE.md does not name the publisher's key"
  grep -q "DEVELOPMENT" "$release_notes" "$work/publisher.log" && fail "publisher: called a development release"
  grep -qF "Authenticode signer: /CN=Test Publisher" "$release_notes" || fail "publisher: RELEASE.md does not name the signer"
  grep -qa "$publisher_key" "$dist/vostrane-updater.exe" || fail "publisher: the helper does not embed the publisher's key"
  # No time stamp: verify says so, and accepts it only when told.
  run_verify publisher-no-timestamp "$dist" --ca-file "$work/signing-certificate.pem" &&
    fail "publisher: verify passes without time stamps"
  grep -q 'FAILED  vostrane-updater.exe: signed by /CN=Test Publisher, but not time-stamped' \
    "$work/publisher-no-timestamp.out" || fail "publisher: verify: $(grep FAILED "$work/publisher-no-timestamp.out")"
  run_verify publisher "$dist" --ca-file "$work/signing-certificate.pem" --no-timestamp ||
    fail "publisher: verify --no-timestamp fails: $(grep FAILED "$work/publisher.out")"
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
