# Authenticode signing with osslsigncode; sourced by scripts/release and the
# signing test, never run.

# Makes a self-signed code-signing certificate for development and tests in
# DIR: development-code-signing-key.pem and development-code-signing-certificate.pem.
# It is made anew each time and must never sign anything that is shipped.
make_development_code_signing_certificate() {
  local dir=$1
  mkdir -p "$dir"
  (
    umask 077
    openssl req -x509 -newkey rsa:3072 -sha256 -days 30 -nodes \
      -keyout "$dir/development-code-signing-key.pem" -out "$dir/development-code-signing-certificate.pem" \
      -subj "/CN=Vostrane updater DEVELOPMENT code signing/O=Development only, never shipped" \
      -addext "basicConstraints=critical,CA:FALSE" -addext "keyUsage=critical,digitalSignature" \
      -addext "extendedKeyUsage=codeSigning" >/dev/null 2>&1
  )
  chmod 644 "$dir/development-code-signing-certificate.pem"  # the public half
}

# authenticode_sign IN OUT DESCRIPTION CREDENTIAL...
# Signs the PE file IN into OUT with SHA-256 digests. CREDENTIAL is
# osslsigncode's own: "-pkcs12 FILE [-readpass FILE]" or "-certs FILE -key FILE",
# optionally followed by "-ts URL" for a time-stamp server.
authenticode_sign() {
  local in=$1 out=$2 description=$3
  shift 3
  rm -f "$out"
  osslsigncode sign "$@" -h sha256 -n "$description" -in "$in" -out "$out" >/dev/null
}

# authenticode_verify FILE CA_FILE LOG [TSA_CA_FILE]: osslsigncode's verdict,
# its report in LOG; a time stamp is checked against TSA_CA_FILE (default: the
# system's certificate bundle).
authenticode_verify() {
  osslsigncode verify -CAfile "$2" ${4:+-TSA-CAfile "$4"} -in "$1" >"$3" 2>&1
}

# authenticode_timestamp_verified LOG: whether the report of authenticode_verify
# shows a time stamp whose signature verified. osslsigncode's verdict alone does
# not say: it accepts a signature whose time stamp fails to verify.
authenticode_timestamp_verified() {
  grep -qx 'Timestamp Server Signature verification: ok' "$1"
}

# authenticode_unsigned SIGNED OUT: the file with its signature removed.
authenticode_unsigned() {
  rm -f "$2"
  osslsigncode remove-signature -in "$1" -out "$2" >/dev/null
}
