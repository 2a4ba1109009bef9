#pragma once
// Signs update statements with the development key, as the publisher would,
// so that tests can make packages the helper accepts.
#include <string>

namespace vostrane::testing {

// Path of the development private key (PKCS#8 PEM), for tests only.
std::string development_private_key_path();

// Standard padded Base64 of the Ed25519 signature over `message`.
std::string sign_with_development_key(const std::string& message);

// SHA-256 of the bytes as 64 lower-case hex digits.
std::string sha256_hex(const std::string& bytes);

}  // namespace vostrane::testing
