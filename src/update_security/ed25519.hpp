#pragma once
// Ed25519 signature verification (RFC 8032, pure Ed25519) through OpenSSL.
#include <cstdint>
#include <span>

namespace vostrane {

inline constexpr std::size_t kEd25519SignatureSize = 64;

// True when S, the little-endian integer in the last 32 signature bytes, is
// below the group order L.
bool ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32> s);

// Checks [S]B = R + [k]A without the cofactor: S must be canonical, R is
// compared by its bytes with the encoding of [S]B - [k]A, and neither R nor A
// is refused for small order. `public_key` is A's 32-byte encoding.
bool ed25519_signature_is_valid(std::span<const std::uint8_t, 32> public_key,
                                std::span<const std::uint8_t> message,
                                std::span<const std::uint8_t, kEd25519SignatureSize> signature);

}  // namespace vostrane
