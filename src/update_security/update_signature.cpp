#include "update_signature.hpp"

#include <algorithm>
#include <span>
#include <vector>

#include "interface_texts.hpp"
#include "base64.hpp"
#include "ed25519.hpp"
#include "hex.hpp"
#include "public_key.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

constexpr std::size_t kDigestTextLength = 64;


bool is_digest_text(std::string_view digest) {
    return digest.size() == kDigestTextLength && std::ranges::all_of(digest, is_ascii_hex_digit);
}

std::span<const std::uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

std::string signed_update_statement(std::string_view key_id, std::string_view version,
                                    std::string_view digest) {
    std::string statement(kStatementHeader);
    statement.append(kStatementKeyId).append(key_id).append("\n");
    statement.append(kStatementVersion).append(version).append("\n");
    statement.append(kStatementSha256).append(digest).append("\n");
    return statement;
}

Status verify_update_signature_with_key(std::string_view public_key_text, std::string_view version,
                                        std::string_view digest, std::string_view signature,
                                        std::string_view key_id, std::string_view algorithm) {
    if (!ascii_iequals(trim_white_space(algorithm), kAcceptedSignatureAlgorithm)) {
        return failure(std::string(kUnsupportedAlgorithm));
    }

    version = trim_white_space(version);
    key_id = trim_white_space(key_id);
    std::string statement;
    {
        std::string lower_digest = ascii_lower(trim_white_space(digest));
        if (version.empty() || !is_digest_text(lower_digest) || key_id != kAcceptedKeyId) {
            return failure(std::string(kInvalidSignatureMetadata));
        }
        statement = signed_update_statement(key_id, version, lower_digest);
    }

    auto key = decode_update_public_key(public_key_text);
    if (!key) return failure(std::string(kInvalidEmbeddedKey));

    auto signature_bytes = decode_base64_strict(trim_white_space(signature));
    if (!signature_bytes) return failure(std::string(kSignatureNotBase64));
    if (signature_bytes->size() != kEd25519SignatureSize) return failure(std::string(kInvalidSignatureLength));

    std::span<const std::uint8_t, kEd25519SignatureSize> signature_span(signature_bytes->data(),
                                                                         kEd25519SignatureSize);
    if (!ed25519_signature_is_valid(*key, bytes_of(statement), signature_span)) {
        return failure(std::string(kSignatureVerificationFailed));
    }
    return {};
}

Status verify_update_signature(std::string_view version, std::string_view digest, std::string_view signature,
                               std::string_view key_id, std::string_view algorithm) {
    return verify_update_signature_with_key(update_public_key(), version, digest, signature, key_id, algorithm);
}

}  // namespace vostrane
