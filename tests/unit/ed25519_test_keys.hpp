#pragma once
// Fresh Ed25519 key pairs for tests, so that signatures come from OpenSSL's
// signer and not from the code under test.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "update_security/base64.hpp"
#include "update_security/hex.hpp"
#include "update_security/openssl_handles.hpp"

namespace vostrane::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes hex_bytes(std::string_view hex) {
    auto bytes = decode_hex(hex);
    EXPECT_TRUE(bytes.has_value()) << hex;
    return bytes.value_or(Bytes{});
}

inline Bytes text_bytes(std::string_view text) { return {text.begin(), text.end()}; }

class TestSigningKey {
public:
    TestSigningKey() : key_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) { EXPECT_TRUE(key_); }

    [[nodiscard]] Bytes public_key() const {
        Bytes raw(32);
        std::size_t size = raw.size();
        EXPECT_EQ(EVP_PKEY_get_raw_public_key(key_.get(), raw.data(), &size), 1);
        return raw;
    }

    // The embedded form: 64 lower-case hex digits and CR LF.
    [[nodiscard]] std::string public_key_text() const { return encode_hex_lower(public_key()) + "\r\n"; }

    [[nodiscard]] Bytes sign(std::string_view message) const {
        openssl::unique_md_ctx context(EVP_MD_CTX_new());
        Bytes signature(64);
        std::size_t size = signature.size();
        EXPECT_EQ(EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()), 1);
        EXPECT_EQ(EVP_DigestSign(context.get(), signature.data(), &size,
                                 reinterpret_cast<const unsigned char*>(message.data()), message.size()),
                  1);
        return signature;
    }

    [[nodiscard]] std::string sign_base64(std::string_view message) const { return encode_base64(sign(message)); }

private:
    openssl::unique_pkey key_;
};

// S + L, the same scalar modulo L in a non-canonical form; still below 2^256.
inline Bytes with_group_order_added_to_s(Bytes signature) {
    static constexpr std::array<std::uint8_t, 32> kGroupOrder = {
        0xed, 0xd3, 0xf5, 0x5c, 0x1a, 0x63, 0x12, 0x58, 0xd6, 0x9c, 0xf7, 0xa2, 0xde, 0xf9, 0xde, 0x14,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10};
    unsigned carry = 0;
    for (std::size_t i = 0; i < 32; ++i) {
        unsigned sum = signature[32 + i] + kGroupOrder[i] + carry;
        signature[32 + i] = static_cast<std::uint8_t>(sum);
        carry = sum >> 8;
    }
    EXPECT_EQ(carry, 0u);
    return signature;
}

}  // namespace vostrane::testing
