#pragma once
// The publisher's Ed25519 public key: its text form and its decoding.
#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "result.hpp"

namespace vostrane {

using Ed25519PublicKeyBytes = std::array<std::uint8_t, 32>;

// A point of edwards25519 in affine coordinates, each a little-endian field element below p.
struct EdwardsPoint {
    std::array<std::uint8_t, 32> x{};
    std::array<std::uint8_t, 32> y{};
    friend bool operator==(const EdwardsPoint&, const EdwardsPoint&) = default;
};

struct UpdatePublicKey {
    Ed25519PublicKeyBytes encoding{};  // the 32 bytes as stored, used as A in verification
    EdwardsPoint point;
};

// Decompresses a point encoding (RFC 8032 section 5.1.3). The one refusal is a
// y for which no x exists. A y of p or more is taken modulo p, and x = 0 with
// the sign bit set is taken as x = 0: the verification that follows reads the
// key the same way, and the published edge-case vectors require accepting such keys.
Result<EdwardsPoint> decode_edwards_point(std::span<const std::uint8_t, 32> encoding);

// Trims `key_text`, then requires exactly 64 hex digits (either case) that
// encode a point.
Result<UpdatePublicKey> decode_update_public_key(std::string_view key_text);

// The embedded key, decoded afresh at every call.
Result<UpdatePublicKey> decode_update_public_key();

// The stored form exactly: 64 lower-case hex digits, then CR LF (66 bytes).
bool is_update_public_key_text(std::string_view text);

}  // namespace vostrane
