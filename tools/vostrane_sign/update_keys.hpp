#pragma once
// The publisher's side of update signatures: key pairs and signing. The helper
// itself only verifies (src/update_security).
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "result.hpp"
#include "update_security/openssl_handles.hpp"

namespace vostrane::sign_tool {

struct KeyPairFiles {
    std::string private_key_pem;  // PKCS#8 PEM, unencrypted
    std::string public_key_text;  // 64 lower-case hex digits and CR LF, the embedded form
};

Result<KeyPairFiles> generate_update_key_pair();

// An Ed25519 private key read from PEM text; `source` names it in messages.
class UpdateSigningKey {
public:
    static Result<UpdateSigningKey> from_pem(std::string_view pem, const std::string& source);

    // The public key in its embedded text form.
    [[nodiscard]] const std::string& public_key_text() const { return public_key_text_; }

    // Standard padded Base64 of the Ed25519 signature over `message`.
    [[nodiscard]] Result<std::string> sign(std::string_view message) const;

private:
    UpdateSigningKey(openssl::unique_pkey key, std::string public_key_text)
        : key_(std::move(key)), public_key_text_(std::move(public_key_text)) {}
    openssl::unique_pkey key_;
    std::string public_key_text_;
};

}  // namespace vostrane::sign_tool
