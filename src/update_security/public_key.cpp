#include "public_key.hpp"

#include <openssl/err.h>

#include <algorithm>

#include "hex.hpp"
#include "openssl_handles.hpp"
#include "unicode.hpp"

namespace vostrane {
namespace {

using openssl::unique_bignum;

constexpr std::size_t kPublicKeyHexLength = 64;

unique_bignum new_bignum() { return unique_bignum(BN_new()); }

// The field arithmetic of edwards25519 over p = 2^255 - 19.
class Curve25519Field {
public:
    Curve25519Field() : context_(BN_CTX_new()), p_(new_bignum()), d_(new_bignum()) {
        ok_ = context_ && p_ && d_ && BN_set_bit(p_.get(), 255) && BN_sub_word(p_.get(), 19) &&
              compute_d();
    }

    [[nodiscard]] bool ok() const { return ok_; }
    [[nodiscard]] const BIGNUM* p() const { return p_.get(); }

    // x^2 = (y^2 - 1) / (d y^2 + 1); null when that has no square root.
    unique_bignum x_squared(const BIGNUM* y) {
        auto y2 = new_bignum(), u = new_bignum(), v = new_bignum(), result = new_bignum();
        if (!y2 || !u || !v || !result) return nullptr;
        if (!BN_mod_sqr(y2.get(), y, p(), ctx()) || !BN_mod_sub(u.get(), y2.get(), BN_value_one(), p(), ctx()) ||
            !BN_mod_mul(v.get(), d_.get(), y2.get(), p(), ctx()) ||
            !BN_mod_add(v.get(), v.get(), BN_value_one(), p(), ctx()) ||
            // d y^2 + 1 is never 0: -1/d is not a square modulo p.
            !BN_mod_inverse(v.get(), v.get(), p(), ctx()) ||
            !BN_mod_mul(result.get(), u.get(), v.get(), p(), ctx())) {
            return nullptr;
        }
        return result;
    }

    // The square root, or null when `value` is not a square modulo p.
    unique_bignum square_root(const BIGNUM* value) {
        // A refused root leaves an error on OpenSSL's queue; it is an answer here, not an error.
        ERR_set_mark();
        unique_bignum root(BN_mod_sqrt(nullptr, value, p(), ctx()));
        ERR_pop_to_mark();
        return root;
    }

    BN_CTX* ctx() { return context_.get(); }

private:
    // d = -121665 / 121666 (RFC 8032 section 5.1).
    bool compute_d() {
        auto denominator = new_bignum();
        return denominator && BN_set_word(denominator.get(), 121666) &&
               BN_mod_inverse(denominator.get(), denominator.get(), p(), ctx()) &&
               BN_set_word(d_.get(), 121665) && BN_mod_sub(d_.get(), p(), d_.get(), p(), ctx()) &&
               BN_mod_mul(d_.get(), d_.get(), denominator.get(), p(), ctx());
    }

    openssl::unique_bn_ctx context_;
    unique_bignum p_;
    unique_bignum d_;
    bool ok_ = false;
};

}  // namespace

Status check_edwards_point(std::span<const std::uint8_t, 32> encoding) {
    const auto refuse = [] { return failure("Invalid Edwards point encoding."); };
    Curve25519Field field;
    if (!field.ok()) return failure("The point arithmetic could not be set up.");

    // The sign bit only chooses between x and -x; whether x exists rests on y.
    std::array<std::uint8_t, 32> y_bytes;
    std::ranges::copy(encoding, y_bytes.begin());
    y_bytes[31] &= 0x7f;
    unique_bignum y(BN_lebin2bn(y_bytes.data(), static_cast<int>(y_bytes.size()), nullptr));
    if (!y || !BN_nnmod(y.get(), y.get(), field.p(), field.ctx())) return refuse();
    auto x_squared = field.x_squared(y.get());
    if (!x_squared || !field.square_root(x_squared.get())) return refuse();
    return {};
}

Result<Ed25519PublicKeyBytes> decode_update_public_key(std::string_view key_text) {
    std::string_view trimmed = trim_white_space(key_text);
    if (trimmed.size() != kPublicKeyHexLength) return failure(std::string(kInvalidHexadecimal));
    auto bytes = decode_hex(trimmed);
    RETURN_IF_FAILED(bytes);

    Ed25519PublicKeyBytes key;
    std::ranges::copy(*bytes, key.begin());
    RETURN_IF_FAILED(check_edwards_point(key));
    return key;
}

bool is_update_public_key_text(std::string_view text) {
    return text.size() == kPublicKeyHexLength + 2 && text.ends_with("\r\n") &&
           std::ranges::all_of(text.substr(0, kPublicKeyHexLength),
                               [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

}  // namespace vostrane
