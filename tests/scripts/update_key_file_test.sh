#!/usr/bin/env bash
# The configure-time checks of the embedded public key: the exact file form,
# the warning for an optimised build with the development key, and its refusal
# in a release build.
#
#   tests/scripts/update_key_file_test.sh SOURCE_DIR
set -uo pipefail

source_dir=$1
# shellcheck source=tests/scripts/support/shell_checks.sh
source "$(dirname "$0")/support/shell_checks.sh"

digits=0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef

# --- the file form, through the reader alone ------------------------------
cat >"$work/read_key.cmake" <<EOF
include("$source_dir/src/update_security/update_public_key.cmake")
vostrane_read_update_public_key("\${KEY_FILE}" key)
message("key=\${key}")
EOF

# CMake wraps its messages; the output comes back on one line.
read_key() {
  cmake -DKEY_FILE="$1" -P "$work/read_key.cmake" 2>&1 | tr -s ' \n' ' '
}

# Each case: name, file content (printf format), accepted?
check_form() {
  local name=$1 content=$2 accepted=$3
  printf "$content" >"$work/key.txt"
  local output status
  output=$(read_key "$work/key.txt")
  status=$?
  if [[ $accepted == yes ]]; then
    [[ $status == 0 && $output == *"key=${digits}"* ]] || fail "$name: refused: $output"
  else
    [[ $status != 0 && $output == *"must hold exactly 64 lower-case hexadecimal digits"* ]] ||
      fail "$name: not refused as expected: $output"
  fi
}

check_form "stored form" "${digits}\r\n" yes
check_form "LF only" "${digits}\n" no
check_form "no line end" "${digits}" no
check_form "two line ends" "${digits}\r\n\r\n" no
check_form "upper-case digit" "A${digits:1}\r\n" no
check_form "63 digits" "${digits:1}\r\n" no
check_form "65 digits" "${digits}0\r\n" no
check_form "leading blank" " ${digits:1}\r\n" no
check_form "non-hex digit" "g${digits:1}\r\n" no
check_form "NUL byte" "\0${digits:1}\r\n" no
check_form "empty" "" no

output=$(read_key "$work/missing.txt")
[[ $output == *"missing.txt does not exist"* ]] || fail "missing key file: $output"

# --- the build's use of it -------------------------------------------------
configure() {  # build type, key file
  rm -rf "$work/build"
  cmake -S "$source_dir" -B "$work/build" -G Ninja -DVOSTRANE_TESTS=OFF -DCMAKE_BUILD_TYPE="$1" \
    -DVOSTRANE_UPDATE_PUBLIC_KEY_FILE="$2" >"$work/configure.raw" 2>&1
  local status=$?
  tr -s ' \n' ' ' <"$work/configure.raw" >"$work/configure.txt"
  return $status
}

printf '%s\r\n' "$digits" >"$work/own-key.txt"
development_key="$source_dir/keys/development-update-public-key.txt"

configure Release "$development_key" || fail "Release with the development key does not configure"
grep -q "Release build with the DEVELOPMENT update public key" "$work/configure.txt" ||
  fail "Release with the development key gives no warning"

configure Release "$work/own-key.txt" || fail "Release with another key does not configure"
grep -q "DEVELOPMENT" "$work/configure.txt" && fail "Release with another key warns"
grep -q "return \"${digits}\\\\r\\\\n\";" "$work/build/src/update_security/embedded_update_public_key.cpp" ||
  fail "the key is not embedded as its 66-byte text"

configure Debug "$development_key" || fail "Debug with the development key does not configure"
grep -q "DEVELOPMENT" "$work/configure.txt" && fail "Debug with the development key warns"

# A release build (VOSTRANE_RELEASE) refuses the development key unless told.
configure_release() {  # key file, further cache settings...
  local key=$1
  shift
  rm -rf "$work/build"
  cmake -S "$source_dir" -B "$work/build" -G Ninja -DVOSTRANE_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    -DVOSTRANE_RELEASE=ON -DVOSTRANE_UPDATE_PUBLIC_KEY_FILE="$key" "$@" >"$work/configure.raw" 2>&1
  local status=$?
  tr -s ' \n' ' ' <"$work/configure.raw" >"$work/configure.txt"
  return $status
}
configure_release "$development_key" && fail "a release configures with the development key"
grep -q "A release build refuses the DEVELOPMENT update public key" "$work/configure.txt" ||
  fail "a release with the development key is refused without the reason"
configure_release "$development_key" -DVOSTRANE_ALLOW_DEVELOPMENT_KEY=ON ||
  fail "a release with the development key, allowed on purpose, does not configure"
grep -q "Release build with the DEVELOPMENT update public key" "$work/configure.txt" ||
  fail "an allowed development-key release gives no warning"
configure_release "$work/own-key.txt" || fail "a release with another key does not configure"
configure_release "" && fail "a release configures without a key file"
grep -q "VOSTRANE_UPDATE_PUBLIC_KEY_FILE is not set" "$work/configure.txt" ||
  fail "a release without a key file is refused without the reason"

printf '%s\n' "$digits" >"$work/bad-key.txt"
configure Debug "$work/bad-key.txt" && fail "a key file with LF only configures"
grep -q "must hold exactly 64 lower-case hexadecimal digits" "$work/configure.txt" ||
  fail "a bad key file is refused without the reason"

finish "update key file"
