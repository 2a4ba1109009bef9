#include "ed25519.hpp"

#include <openssl/err.h>

#include "openssl_handles.hpp"

namespace vostrane {
namespace {

// L = 2^252 + 27742317777372353535851937790883648493 (RFC 8032 section 5.1).
openssl::unique_bignum group_order() {
    BIGNUM* offset = nullptr;
    if (!BN_dec2bn(&offset, "27742317777372353535851937790883648493")) return nullptr;
    openssl::unique_bignum order(offset);
    openssl::unique_bignum power(BN_new());
    if (!power || !BN_set_bit(power.get(), 252) || !BN_add(order.get(), order.get(), power.get())) return nullptr;
    return order;
}

// OpenSSL's own check, which accepts exactly what ed25519_signature_is_valid promises.
bool openssl_verifies(std::span<const std::uint8_t, 32> public_key, std::span<const std::uint8_t> message,
                      std::span<const std::uint8_t, kEd25519SignatureSize> signature) {
    openssl::unique_pkey key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, public_key.data(), public_key.size()));
    openssl::unique_md_ctx context(EVP_MD_CTX_new());
    if (!key || !context) return false;
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1) return false;
    static constexpr std::uint8_t kNoBytes[1] = {0};
    const std::uint8_t* data = message.empty() ? kNoBytes : message.data();
    return EVP_DigestVerify(context.get(), signature.data(), signature.size(), data, message.size()) == 1;
}

}  // namespace

bool ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32> s) {
    auto order = group_order();
    openssl::unique_bignum value(BN_lebin2bn(s.data(), static_cast<int>(s.size()), nullptr));
    return order && value && BN_cmp(value.get(), order.get()) < 0;
}

bool ed25519_signature_is_valid(std::span<const std::uint8_t, 32> public_key,
                                std::span<const std::uint8_t> message,
                                std::span<const std::uint8_t, kEd25519SignatureSize> signature) {
    // OpenSSL checks S as well; checking it here keeps the rule independent
    // of the library version.
    if (!ed25519_scalar_is_canonical(signature.subspan<32, 32>())) return false;
    // A refused signature leaves reasons on OpenSSL's queue; the answer is the bool.
    ERR_set_mark();
    bool valid = openssl_verifies(public_key, message, signature);
    ERR_pop_to_mark();
    return valid;
}

}  // namespace vostrane
