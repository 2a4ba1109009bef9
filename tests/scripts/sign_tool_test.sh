#!/usr/bin/env bash
# vostrane-sign end to end: keygen, check, sign, statement, verify and digest;
# keys encrypted under a password file; the cross-check with the openssl
# command line both ways; and a key that stays in a PKCS#11 token (SoftHSM),
# signing the statement's bytes.
#
#   tests/scripts/sign_tool_test.sh TOOL PACKAGES_DIR [KEYS_DIR]
#
# TOOL is the native vostrane-sign, or vostrane-sign.exe (run under Wine; its
# output always goes to files, never to a pipe). PACKAGES_DIR holds the sample
# packages the build makes (sample-app-2*.msi). KEYS_DIR, when given, is
# checked to hold a matching development key pair. WINE names the program that
# runs Windows programs (wine unless set).
set -uo pipefail

tool=$1
packages_dir=$2
keys_dir=${3:-}
runner=()
windows=false
if [[ $tool == *.exe ]]; then
  runner=("${WINE:-wine}")
  windows=true
fi

# shellcheck source=tests/scripts/support/shell_checks.sh
source "$(dirname "$0")/support/shell_checks.sh"
cd "$work" || exit 1
# Files made here are the owner's alone, as the tool requires of a password
# file on Linux; the permission checks below set other modes themselves.
umask 077

# Runs the tool; sets $status, and its output in $out and $err.
run() {
  "${runner[@]}" "$tool" "$@" </dev/null >"$work/stdout" 2>"$work/stderr"
  status=$?
  out=$(tr -d '\r' <"$work/stdout")
  err=$(tr -d '\r' <"$work/stderr")
}

expect_status() {
  local expected=$1 what=$2
  [[ $status == "$expected" ]] || fail "$what: exit $status, expected $expected (stdout: $out; stderr: $err)"
}

expect_contains() {
  local text=$1 needle=$2 what=$3
  [[ $text == *"$needle"* ]] || fail "$what: '$needle' not in: $text"
}

# The 32 raw public-key bytes of a PEM private key, as lower-case hex; further
# arguments go to openssl pkey (a password).
public_hex_of() {
  openssl pkey -in "$@" -pubout -outform DER | tail -c 32 | od -An -tx1 | tr -d ' \n'
}

# The Base64 of a signature file with its first byte changed.
tampered_base64_of() {
  local first
  first=$(od -An -tu1 -N1 "$1" | tr -d ' ')
  { printf "\\$(printf %03o $((first ^ 1)))"; tail -c +2 "$1"; } | base64 -w0
}

statement_for() {  # version digest
  printf 'vostrane-update-v1\nkey-id:vostrane-update-2026-01\nversion:%s\nsha256:%s\n' "$1" "$2"
}

# --- keygen ---------------------------------------------------------------
run keygen --private-key priv.pem --public-key pub.txt
expect_status 0 "keygen"
[[ $(wc -c <pub.txt) == 66 ]] || fail "public key file is not 66 bytes"
grep -qaP '^[0-9a-f]{64}\r$' pub.txt || fail "public key file is not 64 lower-case hex digits and CR LF"
grep -q 'BEGIN PRIVATE KEY' priv.pem || fail "private key is not PKCS#8 PEM"
[[ $(public_hex_of priv.pem) == "$(head -c 64 pub.txt)" ]] || fail "openssl reads another public key from priv.pem"
if ! $windows; then
  [[ $(stat -c %a priv.pem) == 600 ]] || fail "private key permissions are $(stat -c %a priv.pem), not 600"
fi

before=$(cat priv.pem pub.txt | sha256sum)
run keygen --private-key priv.pem --public-key pub.txt
expect_status 1 "keygen over existing files"
expect_contains "$err" "already exists" "keygen over existing files"
run keygen --private-key new.pem --public-key pub.txt
expect_status 1 "keygen over an existing public key"
[[ -e new.pem ]] && fail "keygen left a private key behind after refusing"
[[ $(cat priv.pem pub.txt | sha256sum) == "$before" ]] || fail "keygen changed existing key files"

# --- keygen with a password file --------------------------------------------
# The password ends at the first CR or LF; openssl's -passin file: ends it at
# LF only, so it gets a file of its own.
password='correct horse'
printf '%s\r\nnot part of it\n' "$password" >password.txt
printf '%s\n' "$password" >openssl-password.txt
run keygen --private-key enc.pem --public-key enc.txt --password-file password.txt
expect_status 0 "keygen --password-file"
grep -q 'BEGIN ENCRYPTED PRIVATE KEY' enc.pem || fail "keygen --password-file wrote no encrypted PKCS#8 PEM"
# PBES2 with AES-256-CBC and PBKDF2-HMAC-SHA256, 600000 rounds (0x927C0), a 16-byte salt.
structure=$(openssl asn1parse -in enc.pem)
for part in ':PBES2' ':PBKDF2' 'INTEGER           :0927C0' ':hmacWithSHA256' ':aes-256-cbc'; do
  [[ $structure == *"$part"* ]] || fail "the encrypted key lacks '$part': $structure"
done
[[ $(grep -A2 ':PBKDF2' <<<"$structure" | tail -1) == *'l=  16 prim: OCTET STRING'* ]] ||
  fail "the key's PBKDF2 salt is not 16 bytes: $structure"
[[ $(public_hex_of enc.pem -passin file:openssl-password.txt) == "$(head -c 64 enc.txt)" ]] ||
  fail "openssl does not open enc.pem with the password, or reads another public key"
[[ $out$err == *"$password"* ]] && fail "keygen printed the password"
if ! $windows; then
  [[ $(stat -c %a enc.pem) == 600 ]] || fail "encrypted key permissions are $(stat -c %a enc.pem), not 600"
fi

# The longest password openssl's -passin file: reads whole is accepted.
head -c 1023 /dev/zero | tr '\0' p >longest-password.txt
run keygen --private-key longest.pem --public-key longest.txt --password-file longest-password.txt
expect_status 0 "keygen with a 1023-byte password"
[[ $(public_hex_of longest.pem -passin file:longest-password.txt) == "$(head -c 64 longest.txt)" ]] ||
  fail "openssl does not open the key of a 1023-byte password"

# Each case: name, password file content (printf format), expected message.
check_refused_password_file() {
  local name=$1 content=$2 message=$3
  printf "$content" >refused-password.txt
  run keygen --private-key refused.pem --public-key refused.txt --password-file refused-password.txt
  expect_status 1 "keygen, $name"
  expect_contains "$err" "$message" "keygen, $name"
  [[ -e refused.pem || -e refused.txt ]] && fail "keygen, $name: left a key file behind"
}
check_refused_password_file "empty password file" "" "holds no password: its first line is empty."
check_refused_password_file "password file starting with a line end" "\nsecret\n" "holds no password"
check_refused_password_file "password file starting with CR" "\rsecret" "holds no password"
check_refused_password_file "1024-byte password" "$(head -c 1024 /dev/zero | tr '\0' p)" "longer than 1023 bytes"
run keygen --private-key refused.pem --public-key refused.txt --password-file missing-password.txt
expect_status 1 "keygen with a missing password file"
expect_contains "$err" "(os error 2)" "keygen with a missing password file"

# --- digest ---------------------------------------------------------------
head -c 200003 /dev/urandom >random.msi
run digest random.msi
expect_status 0 "digest"
[[ $out == "$(sha256sum random.msi | cut -c1-64)" ]] || fail "digest '$out' differs from sha256sum"
run digest missing.msi
expect_status 1 "digest of a missing file"
expect_contains "$err" "(os error 2)" "digest of a missing file"

# --- check ----------------------------------------------------------------
for package in "$packages_dir"/sample-app-2*.msi; do cp "$package" .; done
cp sample-app-2.msi package.msi
digest=$(sha256sum package.msi | cut -c1-64)

per_user="information: Installs per user (no ALLUSERS property); elevated privileges are not required (summary Word Count bit 3)."
no_lock="information: The package does not refer to VOSTRANE_INSTALLDIR_LOCK: the VOSTRANE_INSTALLDIR_LOCK=1 that the update helper passes changes nothing in it."
external_cabinet="error: Media 1 uses the cabinet sample.cab from outside the package, where the signature does not reach. Embed it: WiX <MediaTemplate EmbedCab=\"yes\"/> or <Media EmbedCab=\"yes\">."
uncompressed="error: 1 of 1 files are not compressed (the first is VersionFile): Windows Installer would read them from the package's folder, where the signature does not reach. Compress them into an embedded cabinet: WiX <Package Compressed=\"yes\"/> with <MediaTemplate EmbedCab=\"yes\"/>, and no Compressed=\"no\" on a <File>."
no_installdir="error: The Directory table has no INSTALLDIR: the INSTALLDIR=<folder> that the update helper passes would be ignored. Name the installation folder INSTALLDIR: WiX <Directory Id=\"INSTALLDIR\" Name=\"...\">."
no_refusal="warning: Nothing refuses the package when a newer version is installed, so an older signed package can be replayed to downgrade (and without a major upgrade, a new version installs beside the old one). WiX: <MajorUpgrade DowngradeErrorMessage=\"...\"/>. In the tables: no Upgrade row for the UpgradeCode {2D9E4B71-5C3A-4F86-B0D2-7E1A9C4F3B68} detects newer versions (VersionMin, OnlyDetect) with a launch condition or error action on its property."
differs="(Windows Installer compares the first three fields, as numbers)"
other_version="error: ProductVersion 2.0.0 is not the version being signed, 2.0.1 $differs: the update helper refuses it. Set the package's ProductVersion to 2.0.1 (WiX <Product Version=\"2.0.1\">), or sign the version the package carries, 2.0.0."
minor_version="error: ProductVersion 2.0.0 is not the version being signed, 2.1 $differs: the update helper refuses it. Set the package's ProductVersion to 2.1 (WiX <Product Version=\"2.1\">), or sign the version the package carries, 2.0.0."
not_a_version="warning: ProductVersion 2.0.0 is not the version being signed, v2.0.0 $differs."
per_machine="information: Installs per machine (ALLUSERS=1); elevated privileges may be required (summary Word Count bit 3 not set).|information: The package refers to VOSTRANE_INSTALLDIR_LOCK (in LaunchCondition)."
no_authenticode="warning: The package installs per machine but carries no Authenticode signature, so the elevation prompt will name no publisher. Sign the .msi with Authenticode (osslsigncode sign) before you make the update signature over the signed file."
outside="the folder the package was started from, where the signature does not reach."
from_outside=": Windows Installer would take what it names from $outside"
run_carried="Run only what the package installs or carries: [#FileId], [INSTALLDIR], the Binary table."
moved_file="error: The MoveFile table's row Plant takes files from SourceDir: Windows Installer would copy them from $outside Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it."
source_program="error: The CustomAction table's Target of row Run refers to [SourceDir]$from_outside $run_carried"
source_property="error: The CustomAction table's Target of row SetTool refers to [SourceDir]$from_outside $run_carried|error: The CustomAction table's Source of row Run refers to TOOL, which custom action SetTool sets from [SourceDir]$from_outside $run_carried"
source_registry="error: The Registry table's Value of row Tool refers to [SourceDir]$from_outside Refer to what the package installs instead: [INSTALLDIR], [#FileId]."
nested_install="error: The CustomAction table's row Run (type 23) installs another package from $outside Carry what it installs in this package."
# Names built from pieces or escapes; values from the environment, the
# machine, or the user's profile where a per-machine package runs something.
source_target() { echo "error: The CustomAction table's Target of row $1 refers to $2$from_outside $run_carried"; }
source_tool() { echo "error: The CustomAction table's Source of row Run refers to $1$from_outside $run_carried"; }
moved_from() { echo "error: The MoveFile table's row Plant takes files from $1: Windows Installer would copy them from $outside Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it."; }
copied_or_run="; Windows Installer would copy or run what it names."
ship_program="Ship the program in the package and run it with a type 18 or type 2 custom action, or refer to [#FileKey]."
from_environment=": an environment variable, which every program of the user can set$copied_or_run"
move_file_nested="$(source_target SetP '[[Q]]')|$(moved_from 'P, which custom action SetP sets from [[Q]]')"
move_file_pieces="$(source_target SetP '[[A][B]]')|$(moved_from 'P, which custom action SetP sets from [[A][B]]')"
move_file_environment="error: The MoveFile table's SourceFolder of row Plant refers to P, which custom action SetP sets from [%TEMP]$from_environment Carry the files in the package: a <File> of a component, not a <CopyFile> from beside it."
nested_program="$(source_target SetTool '[[Q]]')|$(source_tool 'TOOL, which custom action SetTool sets from [[Q]]')"
environment_program="error: The CustomAction table's Source of row Run refers to TOOL, which custom action SetTool sets from [%TEMP]$from_environment $ship_program"
machine_search_program="error: The CustomAction table's Source of row Run refers to TOOLPATH, which AppSearch sets from what it finds on the machine (signature ToolSig): what Windows Installer finds on the machine, which the signature does not cover$copied_or_run $ship_program"
three_pieces="$(source_target SetP '[[A][B][C]]')|$(source_target Run '[P], which custom action SetP sets from [[A][B][C]]')"
escaped='[[\S]ou[MID]eD[\i]r]'
escaped_name="$(source_target SetTool "$escaped")|$(source_tool "TOOL, which custom action SetTool sets from $escaped")"
second_pass="$(source_target SetFrom '[SourceDir]')|$(source_tool 'TOOL, which the Property table sets from [FROM]')|error: The Property table's Value of row TOOL refers to [FROM], which custom action SetFrom sets from [SourceDir]$from_outside Refer to what the package installs instead: [INSTALLDIR], [#FileId]."
profile_script="error: The CustomAction table's Target of row Run refers to [TempFolder]: a folder of the user's profile, which every program of the user can write, in a package installed per machine$copied_or_run $ship_program"

# The per-machine variant signed with Authenticode (a throw-away certificate),
# as docs/publishing.md asks: no warning.
# shellcheck source=scripts/authenticode.sh
source "$(dirname "$0")/../../scripts/authenticode.sh"
make_development_code_signing_certificate "$work/certificate"
osslsigncode sign -certs "$work/certificate/development-code-signing-certificate.pem" \
  -key "$work/certificate/development-code-signing-key.pem" -h sha256 -n "Sample" \
  -in sample-app-2-per-machine.msi -out sample-app-2-per-machine-authenticode.msi >/dev/null ||
  fail "osslsigncode does not sign the per-machine package"

# package | --version | exit | the report, line by line
check_cases=(
  "sample-app-2.msi|2.0.0|0|$per_user|$no_lock"
  "sample-app-2.msi|2.0.0.9|0|$per_user|$no_lock"
  "sample-app-2.msi||0|$per_user|$no_lock"
  "sample-app-2.msi|2.0.1|1|$other_version|$per_user|$no_lock"
  "sample-app-2.msi|2.1|1|$minor_version|$per_user|$no_lock"
  "sample-app-2.msi|v2.0.0|0|$not_a_version|$per_user|$no_lock"
  "sample-app-2-external-cabinet.msi|2.0.0|1|$external_cabinet|$per_user|$no_lock"
  "sample-app-2-uncompressed.msi|2.0.0|1|$uncompressed|$per_user|$no_lock"
  "sample-app-2-no-installdir.msi|2.0.0|1|$no_installdir|$per_user|$no_lock"
  "sample-app-2-no-upgrade-rule.msi|2.0.0|0|$no_refusal|$per_user|$no_lock"
  "sample-app-2-per-machine.msi|2.0.0|0|$no_authenticode|$per_machine"
  "sample-app-2-per-machine-authenticode.msi|2.0.0|0|$per_machine"
  "sample-app-2-move-file.msi|2.0.0|1|$moved_file|$per_user|$no_lock"
  "sample-app-2-source-program.msi|2.0.0|1|$source_program|$per_user|$no_lock"
  "sample-app-2-source-property.msi|2.0.0|1|$source_property|$per_user|$no_lock"
  "sample-app-2-source-registry.msi|2.0.0|1|$source_registry|$per_user|$no_lock"
  "sample-app-2-nested-install.msi|2.0.0|1|$nested_install|$per_user|$no_lock"
  "sample-app-2-installed-folders.msi|2.0.0|0|$per_user|$no_lock"
  "sample-app-2-move-file-nested.msi|2.0.0|1|$move_file_nested|$per_user|$no_lock"
  "sample-app-2-move-file-pieces.msi|2.0.0|1|$move_file_pieces|$per_user|$no_lock"
  "sample-app-2-move-file-environment.msi|2.0.0|1|$move_file_environment|$per_user|$no_lock"
  "sample-app-2-nested-program.msi|2.0.0|1|$nested_program|$per_user|$no_lock"
  "sample-app-2-environment-program.msi|2.0.0|1|$environment_program|$per_user|$no_lock"
  "sample-app-2-machine-search-program.msi|2.0.0|1|$machine_search_program|$per_user|$no_lock"
  "sample-app-2-three-pieces.msi|2.0.0|1|$three_pieces|$per_user|$no_lock"
  "sample-app-2-escaped-name.msi|2.0.0|1|$escaped_name|$per_user|$no_lock"
  "sample-app-2-second-pass.msi|2.0.0|1|$second_pass|$per_user|$no_lock"
  "sample-app-2-option-bits-property.msi|2.0.0|1|$source_property|$per_user|$no_lock"
  "sample-app-2-option-bits-nested-install.msi|2.0.0|1|$nested_install|$per_user|$no_lock"
  "sample-app-2-second-reference-registry.msi|2.0.0|1|$source_registry|$per_user|$no_lock"
  "sample-app-2-second-reference-program.msi|2.0.0|1|$source_program|$per_user|$no_lock"
  "sample-app-2-per-machine-profile-script.msi|2.0.0|1|$profile_script|$no_authenticode|$per_machine"
  "sample-app-2-package-programs.msi|2.0.0|0|$per_user|$no_lock"
)
for case in "${check_cases[@]}"; do
  IFS='|' read -r package version expected_status report <<<"$case"
  if [[ -n $version ]]; then run check "$package" --version "$version"; else run check "$package"; fi
  expect_status "$expected_status" "check $package --version $version"
  [[ $out == "${report//|/$'\n'}" ]] || fail "check $package --version $version printed: $out"
done

run check random.msi
expect_status 1 "check a file that is no MSI database"
[[ $out == "error: The package cannot be read as an MSI database ("*"). Sign the .msi file that the authoring tool (WiX) built." && $out != *$'\n'* ]] ||
  fail "check random.msi printed: $out"
cp package.msi package.txt
run check package.txt
expect_status 1 "check a file not named .msi"
[[ $out == "error: The package is not an existing file named *.msi, so the update helper refuses it." ]] ||
  fail "check package.txt printed: $out"
run check
expect_status 2 "check without a package"
run check package.msi sample-app-2.msi
expect_status 2 "check two packages"
run check package.msi --version ' '
expect_status 2 "check with a blank version"

# The publishing guide's sample is clean: information only.
cp "$packages_dir/guide-2.msi" guide-2.msi
run check guide-2.msi --version 2.0.0
expect_status 0 "check the guide's sample"
[[ -n $out && $(grep -vc '^information: ' <<<"$out") == 0 ]] || fail "the guide's sample is not clean: $out"
expect_contains "$out" "information: The package refers to VOSTRANE_INSTALLDIR_LOCK" "check the guide's sample"

# --- sign -----------------------------------------------------------------
run sign --private-key priv.pem --version 2.0.0 --package package.msi
expect_status 0 "sign"
signature=$out
[[ ${#signature} == 88 && $signature == *== ]] || fail "signature '$signature' is not 88 Base64 characters"

run sign --private-key priv.pem --version ' 2.0.0 ' --package package.msi --format options
expect_status 0 "sign --format options"
expected_options="--expected-sha256 $digest
--expected-version 2.0.0
--signature $signature
--key-id vostrane-update-2026-01
--signature-algorithm ed25519"
[[ $out == "$expected_options" ]] || fail "--format options printed: $out"

run sign --private-key priv.pem --version 2.0.0 --package package.msi --format yaml
expect_status 2 "sign --format yaml"

# --format json: the feed manifest, its keys in a fixed order, each value as
# digest and sign give it; a file name beyond ASCII comes back whole.
json_name='nâme ünïcode.msi'
# A name the application would refuse (a quote, a backslash, a colon: no bare
# Windows file name) is refused here too; only Linux lets such a file exist.
if ! $windows; then
  for name in 'a "quoted" \ nâme.msi' 'sub\app.msi' 'C:app.msi' 'a|b.msi'; do
    cp package.msi "$name"
    run sign --private-key priv.pem --version 2.0.0 --package "$name" --format json
    expect_status 1 "sign --format json $name"
    expect_contains "$err" "$name: The feed manifest is not valid: \"fileName\" must be a file name, not a path." \
      "sign --format json $name"
    [[ -z $out ]] || fail "sign --format json $name printed: $out"
  done
fi
cp package.msi "$json_name"
for name in package.msi "$json_name"; do
  run sign --private-key priv.pem --version ' 2.0.0 ' --package "$name" --format json
  expect_status 0 "sign --format json $name"
  printf '%s' "$out" >manifest.json
  fields=$(python3 -c 'import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
print(",".join(d))
for key in d: print(d[key])' manifest.json) || fail "the manifest of $name is not JSON: $out"
  expected_fields="version,sha256,signature,keyId,algorithm,fileName,size
2.0.0
$digest
$signature
vostrane-update-2026-01
ed25519
$name
$(stat -c %s "$name")"
  [[ $fields == "$expected_fields" ]] || fail "the manifest of $name holds: $fields"
  [[ $out != *$'\n'* ]] || fail "the manifest of $name is more than one line: $out"
done
mkdir -p feed
cp package.msi "feed/$json_name"
run sign --private-key priv.pem --version 2.0.0 --package "feed/$json_name" --format json
expect_status 0 "sign --format json of a package in a folder"
expect_contains "$out" "\"fileName\":\"$json_name\",\"size\":" "sign --format json of a package in a folder"
run sign --private-key pub.txt --version 2.0.0 --package package.msi
expect_status 1 "sign with a public key file"
expect_contains "$err" "PEM private key" "sign with a public key file"
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec.pem 2>/dev/null
run sign --private-key ec.pem --version 2.0.0 --package package.msi
expect_status 1 "sign with an EC key"
expect_contains "$err" "Ed25519" "sign with an EC key"
run sign --private-key priv.pem --version 2.0.0 --package package.txt
expect_status 1 "sign a file not named .msi"

# --- sign with an encrypted key --------------------------------------------
run sign --private-key enc.pem --password-file password.txt --version 2.0.0 --package package.msi
expect_status 0 "sign with an encrypted key"
encrypted_key_signature=$out
[[ $out$err == *"$password"* ]] && fail "sign printed the password"
run verify --public-key enc.txt --version 2.0.0 --package package.msi --signature "$encrypted_key_signature"
expect_status 0 "verify a signature by an encrypted key"

# A key that openssl encrypted is read too.
openssl genpkey -algorithm ed25519 -aes-256-cbc -pass file:openssl-password.txt -out openssl-enc.pem
run sign --private-key openssl-enc.pem --password-file password.txt --version 2.0.0 --package package.msi
expect_status 0 "sign with a key openssl encrypted"

printf '%s!\n' "$password" >wrong-password.txt
run sign --private-key enc.pem --password-file wrong-password.txt --version 2.0.0 --package package.msi
expect_status 1 "sign with a wrong password"
[[ $err == "vostrane-sign: enc.pem: the password does not open this key." ]] || fail "wrong password: $err"
run sign --private-key enc.pem --version 2.0.0 --package package.msi
expect_status 1 "sign an encrypted key without --password-file"
[[ $err == "vostrane-sign: enc.pem is encrypted: give its password with --password-file." ]] ||
  fail "encrypted key without --password-file: $err"
run sign --private-key priv.pem --password-file password.txt --version 2.0.0 --package package.msi
expect_status 1 "sign an unencrypted key with --password-file"
expect_contains "$err" "priv.pem is not encrypted" "sign an unencrypted key with --password-file"
: >empty-password.txt
run sign --private-key enc.pem --password-file empty-password.txt --version 2.0.0 --package package.msi
expect_status 1 "sign with an empty password file"
expect_contains "$err" "holds no password" "sign with an empty password file"

[[ -z $out ]] || fail "a refused sign printed: $out"

# --- who else may read the secrets (Linux: Windows keeps no mode) -----------
if ! $windows; then
  for mode in 644 660 604 620 602; do
    chmod "$mode" password.txt
    run sign --private-key enc.pem --password-file password.txt --version 2.0.0 --package package.msi
    expect_status 1 "sign with a password file of mode $mode"
    [[ $err == "vostrane-sign: Permissions 0$mode for password.txt are too open: a password file must be readable and writable by its owner only (chmod 600 password.txt)." ]] ||
      fail "password file of mode $mode: $err"
    [[ -z $out ]] || fail "a password file of mode $mode gave a signature: $out"
  done
  chmod 644 password.txt
  run keygen --private-key open-enc.pem --public-key open-enc.txt --password-file password.txt
  expect_status 1 "keygen with a password file of mode 644"
  [[ -e open-enc.pem ]] && fail "keygen with a password file of mode 644 wrote a key"
  chmod 600 password.txt
  run sign --private-key enc.pem --password-file password.txt --version 2.0.0 --package package.msi
  expect_status 0 "sign with a password file of mode 600"
  [[ -z $err ]] || fail "sign with a password file of mode 600 said: $err"

  # An unencrypted key that others can read is used, with a warning; an
  # encrypted one, or one that is the owner's alone, without.
  run sign --private-key priv.pem --version 2.0.0 --package package.msi
  owner_only_signature=$out
  cp priv.pem readable.pem
  chmod 644 readable.pem enc.pem
  run sign --private-key readable.pem --version 2.0.0 --package package.msi
  expect_status 0 "sign with an unencrypted key of mode 644"
  [[ $out == "$owner_only_signature" ]] || fail "sign with an unencrypted key of mode 644 printed: $out"
  [[ $err == "vostrane-sign: warning: readable.pem is an unencrypted private key that other users can read (permissions 0644); keep it to its owner with chmod 600 readable.pem." ]] ||
    fail "unencrypted key of mode 644: $err"
  run sign --private-key enc.pem --password-file password.txt --version 2.0.0 --package package.msi
  [[ -z $err ]] || fail "sign with an encrypted key of mode 644 said: $err"
  chmod 600 readable.pem enc.pem
  run sign --private-key readable.pem --version 2.0.0 --package package.msi
  expect_status 0 "sign with an unencrypted key of mode 600"
  [[ -z $err ]] || fail "sign with an unencrypted key of mode 600 said: $err"
fi

# The check runs first: errors refuse the package, warnings go to standard
# error, and standard output stays the signature alone.
for package in sample-app-2-external-cabinet.msi sample-app-2-uncompressed.msi sample-app-2-no-installdir.msi \
  sample-app-2-move-file.msi sample-app-2-nested-install.msi random.msi; do
  run sign --private-key priv.pem --version 2.0.0 --package "$package"
  expect_status 1 "sign $package"
  [[ -z $out ]] || fail "sign $package printed: $out"
  expect_contains "$err" "vostrane-sign: error: " "sign $package"
  expect_contains "$err" "vostrane-sign: $package was not signed: the errors above must be fixed in its authoring." \
    "sign $package"
done
run sign --private-key priv.pem --version 2.0.0 --package sample-app-2-external-cabinet.msi
[[ $err == "vostrane-sign: $external_cabinet"$'\n'* ]] || fail "sign external cabinet said: $err"
run sign --private-key priv.pem --version 2.0.0 --package sample-app-2-uncompressed.msi
[[ $err == "vostrane-sign: $uncompressed"$'\n'* ]] || fail "sign uncompressed said: $err"
run sign --private-key priv.pem --version 2.0.0 --package sample-app-2-move-file.msi
[[ $err == "vostrane-sign: $moved_file"$'\n'* ]] || fail "sign move file said: $err"
run sign --private-key priv.pem --version 2.0.0 --package sample-app-2-per-machine.msi
expect_status 0 "sign a per-machine package without Authenticode"
[[ $err == "vostrane-sign: $no_authenticode" ]] || fail "sign a per-machine package without Authenticode said: $err"
run sign --private-key priv.pem --version 2.0.0 --package sample-app-2-no-upgrade-rule.msi
expect_status 0 "sign with a warning"
[[ ${#out} == 88 ]] || fail "sign with a warning printed more than the signature: $out"
[[ $err == "vostrane-sign: $no_refusal" ]] || fail "sign with a warning said: $err"
run sign --private-key priv.pem --version 2.0.1 --package package.msi --format options
expect_status 1 "sign another version"
[[ -z $out ]] || fail "sign another version printed: $out"
[[ $err == "vostrane-sign: $other_version"$'\n'"vostrane-sign: package.msi was not signed: the errors above must be fixed in its authoring." ]] ||
  fail "sign another version said: $err"
run sign --private-key priv.pem --version v2.0.0 --package package.msi
expect_status 0 "sign a version that is not numeric"
[[ $err == "vostrane-sign: $not_a_version" ]] || fail "sign a version that is not numeric said: $err"

# --strict refuses warnings too; a clean package still signs.
for command in check sign; do
  for package in sample-app-2-no-upgrade-rule.msi sample-app-2-per-machine.msi; do
    if [[ $command == check ]]; then
      run check "$package" --version 2.0.0 --strict
    else
      run sign --private-key priv.pem --version 2.0.0 --package "$package" --strict
      [[ -z $out ]] || fail "sign --strict $package printed: $out"
      expect_contains "$err" "vostrane-sign: $package was not signed: --strict refuses the warnings above." \
        "sign --strict $package"
    fi
    expect_status 1 "$command --strict $package"
    expect_contains "$out$err" "warning: " "$command --strict $package"
  done
done
run check guide-2.msi --version 2.0.0 --strict
expect_status 0 "check --strict the guide's sample"
run sign --private-key priv.pem --version 2.0.0 --package guide-2.msi --strict
expect_status 0 "sign --strict the guide's sample"
[[ ${#out} == 88 && -z $err ]] || fail "sign --strict the guide's sample printed: $out; said: $err"
run check package.msi --strict --strict
expect_status 2 "check with --strict twice"
run sign --private-key priv.pem --version 2.0.0 --package package.msi
[[ -z $err ]] || fail "sign a clean package said: $err"

# --- verify ---------------------------------------------------------------
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$signature"
expect_status 0 "verify"
run verify --public-key pub.txt --version 2.0.1 --package package.msi --signature "$signature"
expect_status 1 "verify another version"
[[ $out == "Update signature verification failed." ]] || fail "verify another version printed: $out"
run verify --public-key pub.txt --version 2.0.0 --package package.txt --signature "$signature"
expect_status 1 "verify a file not named .msi"
[[ $out == "The downloaded update package is not a valid MSI file." ]] || fail "verify .txt printed: $out"
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "${signature%==}"
[[ $out == "Update signature is not valid Base64." ]] || fail "verify unpadded printed: $out"
run verify --public-key priv.pem --version 2.0.0 --package package.msi --signature "$signature"
expect_status 1 "verify with a malformed public key file"
expect_contains "$err" "not an update public key" "verify with a malformed public key file"

# --- statement ------------------------------------------------------------
statement_for 2.0.0 "$digest" >statement.txt
[[ $(wc -c <statement.txt) == 136 ]] || fail "statement for 2.0.0 is not 136 bytes"

# Its bytes exactly, the version trimmed as sign trims it, and nothing else:
# no CR (Windows' text mode), no line feed of its own.
run statement --version ' 2.0.0 ' --package package.msi
expect_status 0 "statement"
cmp -s "$work/stdout" statement.txt || fail "statement printed: $(od -c "$work/stdout" | head -n 12)"
[[ -s $work/stderr ]] && fail "statement wrote to standard error: $err"
cp "$work/stdout" tool-statement.txt
if ! $windows; then
  "$tool" statement --version 2.0.0 --package package.msi >/dev/full 2>/dev/null &&
    fail "statement exits with 0 when its output cannot be written"
fi

run statement --version 2.0.0 --package package.txt
expect_status 1 "statement for a file not named .msi"
expect_contains "$err" "not a valid MSI file" "statement for a file not named .msi"
run statement --version 2.0.0 --package missing.msi
expect_status 1 "statement for a missing package"
run statement --version ' ' --package package.msi
expect_status 2 "statement with a blank version"
run statement --package package.msi
expect_status 2 "statement without --version"
[[ -z $out ]] || fail "a refused statement printed: $out"

# Signed elsewhere (here by openssl), checked by verify; a changed signature
# and a signature over another version's statement are not accepted.
openssl pkeyutl -sign -rawin -inkey priv.pem -in tool-statement.txt -out elsewhere.sig || fail "openssl signs the statement"
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$(base64 -w0 elsewhere.sig)"
expect_status 0 "verify the statement signed elsewhere"
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$(tampered_base64_of elsewhere.sig)"
expect_status 1 "verify a tampered signature"
[[ $out == "Update signature verification failed." ]] || fail "verify a tampered signature printed: $out"
run statement --version 2.0.1 --package package.msi
openssl pkeyutl -sign -rawin -inkey priv.pem -in "$work/stdout" -out other-version.sig
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$(base64 -w0 other-version.sig)"
expect_status 1 "verify a signature over another version's statement"

# --- cross-check with the openssl command line ----------------------------
# openssl signs, vostrane-sign (the helper's check) accepts.
openssl pkeyutl -sign -rawin -inkey priv.pem -in statement.txt -out openssl.sig || fail "openssl pkeyutl -sign"
openssl_signature=$(base64 -w0 openssl.sig)
run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$openssl_signature"
expect_status 0 "verify an openssl signature"
[[ $openssl_signature == "$signature" ]] || fail "Ed25519 is deterministic, yet openssl signed differently"

# vostrane-sign signs, openssl verifies.
openssl pkey -in priv.pem -pubout -out pub.pem
printf '%s' "$signature" | base64 -d >tool.sig
openssl pkeyutl -verify -rawin -pubin -inkey pub.pem -in statement.txt -sigfile tool.sig >verify.txt 2>&1 ||
  fail "openssl does not verify vostrane-sign's signature: $(cat verify.txt)"
statement_for 2.0.1 "$digest" >other.txt
openssl pkeyutl -verify -rawin -pubin -inkey pub.pem -in other.txt -sigfile tool.sig >/dev/null 2>&1 &&
  fail "openssl verifies the signature over another statement"

# --- a key in a PKCS#11 token ----------------------------------------------
# SoftHSM in a folder of the test's own; the key never leaves the token, which
# signs the statement's bytes with CKM_EDDSA. scripts/setup installs both tools.
softhsm_module=/usr/lib/softhsm/libsofthsm2.so
token_log=$work/token.log
token() {  # pkcs11-tool arguments; its chatter goes to the log
  pkcs11-tool --module "$softhsm_module" --token-label vostrane-test "$@" >>"$token_log" 2>&1
}
if command -v pkcs11-tool >/dev/null && command -v softhsm2-util >/dev/null && [[ -f $softhsm_module ]]; then
  mkdir "$work/tokens"
  printf 'directories.tokendir = %s\nobjectstore.backend = file\n' "$work/tokens" >"$work/softhsm2.conf"
  export SOFTHSM2_CONF=$work/softhsm2.conf
  if ! { softhsm2-util --init-token --free --label vostrane-test --so-pin 0000 --pin 1234 >>"$token_log" 2>&1 &&
    token --login --pin 1234 --keypairgen --key-type EC:edwards25519 --id 01 --label update &&
    token --read-object --type pubkey --id 01 --output-file token-public-key; }; then
    fail "SoftHSM makes no Ed25519 key: $(cat "$token_log")"
  fi
  # The token's public key in the form keygen writes: its 32 raw bytes in hex, CR LF.
  printf '%s\r\n' "$(openssl pkey -pubin -in token-public-key -outform DER | tail -c 32 | od -An -tx1 | tr -d ' \n')" \
    >token-pub.txt
  grep -qaP '^[0-9a-f]{64}\r$' token-pub.txt || fail "the token's public key did not convert: $(od -c token-pub.txt)"

  run statement --version 2.0.0 --package package.msi
  cp "$work/stdout" token-statement.txt
  token --login --pin 1234 --sign --mechanism EDDSA --id 01 --input-file token-statement.txt \
    --output-file token.sig || fail "the token does not sign: $(cat "$token_log")"
  run verify --public-key token-pub.txt --version 2.0.0 --package package.msi --signature "$(base64 -w0 token.sig)"
  expect_status 0 "verify the token's signature"
  run verify --public-key pub.txt --version 2.0.0 --package package.msi --signature "$(base64 -w0 token.sig)"
  expect_status 1 "verify the token's signature with another key"
elif [[ ${CI:-} == true ]]; then
  fail "pkcs11-tool or SoftHSM is missing, so the token is not tested (scripts/setup installs them)"
else
  echo "SKIP: no pkcs11-tool or SoftHSM; the token is not tested" >&2
fi

# --- help and usage -------------------------------------------------------
for command in keygen check sign statement verify digest; do
  run "$command" --help
  expect_status 0 "$command --help"
  expect_contains "$out" "Usage: vostrane-sign $command" "$command --help"
done
run --help
expect_status 0 "--help"
run frobnicate
expect_status 2 "unknown command"
run sign --private-key priv.pem --version 2.0.0
expect_status 2 "sign without --package"
run sign --private-key priv.pem --version 2.0.0 --package package.msi --version 2.0.1
expect_status 2 "sign with --version twice"

# --- the committed development key pair -----------------------------------
if [[ -n $keys_dir ]]; then
  [[ $(public_hex_of "$keys_dir/development-update-private-key.pem") == \
     "$(head -c 64 "$keys_dir/development-update-public-key.txt")" ]] ||
    fail "the development key files are not one pair"
fi

finish "vostrane-sign"
