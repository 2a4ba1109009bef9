#!/usr/bin/env bash
# scripts/release's refusals, which come before anything is built or written:
# no update key, the development key without --development-key, no
# certificate for a real key, contradictory or unknown arguments, a time
# stamp's trust anchor without a time stamp.
#
#   tests/scripts/release_script_test.sh SOURCE_DIR
set -uo pipefail

source_dir=$1
# shellcheck source=tests/scripts/support/shell_checks.sh
source "$(dirname "$0")/support/shell_checks.sh"

printf '%s\r\n' 0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef >"$work/own-key.txt"
cp "$source_dir/keys/development-update-public-key.txt" "$work/copy-of-development-key.txt"
touch "$work/certificate.p12"
dist_before=$(ls -la --time-style=full-iso "$source_dir/dist" 2>/dev/null)

# Each case: the expected words of the refusal | the arguments.
while IFS='|' read -r expected arguments; do
  read -r -a args <<<"${arguments//WORK/$work}"
  output=$(bash "$source_dir/scripts/release" "${args[@]}" 2>&1 </dev/null)
  status=$?
  [ $status -ne 0 ] || fail "[$arguments] was not refused"
  expected=${expected//WORK/$work}
  [[ $output == *"$expected"* ]] || fail "[$arguments] refused without '$expected': $output"
done <<'CASES'
name the update public key|
name the update public key|--pkcs12 WORK/certificate.p12
REFUSED: WORK/copy-of-development-key.txt is the DEVELOPMENT update key|--update-public-key WORK/copy-of-development-key.txt --pkcs12 WORK/certificate.p12
name the code-signing certificate|--update-public-key WORK/own-key.txt
exclude each other|--development-key --update-public-key WORK/own-key.txt
no such update public key file|--update-public-key WORK/missing.txt --pkcs12 WORK/certificate.p12
unknown argument: --sign-anyway|--development-key --sign-anyway
--timestamp-ca-file needs --timestamp-url|--development-key --timestamp-ca-file WORK/certificate.p12
CASES

[ "$(ls -la --time-style=full-iso "$source_dir/dist" 2>/dev/null)" = "$dist_before" ] ||
  fail "a refused release changed dist/"

finish "release refusals"
