#pragma once
// The publisher's Ed25519 public key: its text form and its decoding.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "result.hpp"

namespace vostrane {

using Ed25519PublicKeyBytes = std::array<std::uint8_t, 32>;

// Whether the encoding decompresses to a point of edwards25519 (RFC 8032
// section 5.1.3). The one refusal is a y for which no x exists. A y of p or
// more is taken modulo p, and x = 0 with the sign bit set as x = 0: the
// verification that follows reads the key the same way, and the published
// edge-case vectors require accepting such keys.
Status check_edwards_point(std::span<const std::uint8_t, 32> encoding);

// Trims `key_text`, then requires exactly 64 hex digits (either case) that
// encode a point: the 32 bytes as stored, used as A in verification.
Result<Ed25519PublicKeyBytes> decode_update_public_key(std::string_view key_text);

// The stored form exactly: 64 lower-case hex digits, then CR LF (66 bytes).
bool is_update_public_key_text(std::string_view text);

}  // namespace vostrane
