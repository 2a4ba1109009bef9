#pragma once
// Ed25519 verification of the signed update statement against the embedded key.
#include <string>
#include <string_view>

#include "interface_texts.hpp"
#include "result.hpp"

namespace vostrane {


// The embedded public key text: 64 lower-case hex digits and CRLF.
std::string_view update_public_key();

// "vostrane-update-v1\nkey-id:{}\nversion:{}\nsha256:{}\n"
std::string signed_update_statement(std::string_view key_id, std::string_view version,
                                    std::string_view digest);

Status verify_update_signature(std::string_view version, std::string_view digest,
                               std::string_view signature, std::string_view key_id,
                               std::string_view algorithm);

// The same check against a given key text, so that tests and the signing tool
// can verify with a key other than the embedded one.
Status verify_update_signature_with_key(std::string_view public_key_text, std::string_view version,
                                        std::string_view digest, std::string_view signature,
                                        std::string_view key_id, std::string_view algorithm);

}  // namespace vostrane
