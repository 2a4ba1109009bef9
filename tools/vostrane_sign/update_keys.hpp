#pragma once
// The publisher's side of update signatures: key pairs and signing. The helper
// itself only verifies (src/update_security).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"
#include "secret_bytes.hpp"
#include "update_security/openssl_handles.hpp"

namespace vostrane::sign_tool {

// The password that encrypts a private key file: the password file's content
// up to its first CR or LF, never empty. Wiped from memory when released.
class KeyPassword {
public:
    // `source` names the password file in messages.
    static Result<KeyPassword> from_file_content(const SecretBytes& content, const std::string& source);

    [[nodiscard]] std::string_view text() const { return bytes_.text(); }

private:
    explicit KeyPassword(std::string_view text) : bytes_(text) {}
    SecretBytes bytes_;
};

struct KeyPairFiles {
    SecretBytes private_key_pem;  // PKCS#8 PEM; encrypted when a password was given
    std::string public_key_text;  // 64 lower-case hex digits and CR LF, the embedded form
};

// A new key pair; with a password, the private key is encrypted with AES-256-CBC.
Result<KeyPairFiles> generate_update_key_pair(const std::optional<KeyPassword>& password);

// An Ed25519 private key read from PEM text; `source` names it in messages.
class UpdateSigningKey {
public:
    // An encrypted key needs its password, and an unencrypted one must come
    // without: a password given for a key stored in the clear is a mistake
    // the publisher should hear about.
    static Result<UpdateSigningKey> from_pem(std::string_view pem, const std::string& source,
                                             const std::optional<KeyPassword>& password);

    // Whether the PEM text held the key encrypted.
    [[nodiscard]] bool was_encrypted() const { return was_encrypted_; }

    // The public key in its embedded text form.
    [[nodiscard]] const std::string& public_key_text() const { return public_key_text_; }

    // Standard padded Base64 of the Ed25519 signature over `message`.
    [[nodiscard]] Result<std::string> sign(std::string_view message) const;

private:
    UpdateSigningKey(openssl::unique_pkey key, std::string public_key_text, bool was_encrypted)
        : key_(std::move(key)), public_key_text_(std::move(public_key_text)), was_encrypted_(was_encrypted) {}
    openssl::unique_pkey key_;
    std::string public_key_text_;
    bool was_encrypted_;
};

}  // namespace vostrane::sign_tool
