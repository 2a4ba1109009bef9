// Decoding the publisher's public key: the text form and the point decompression.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ed25519_test_keys.hpp"
#include "update_security/hex.hpp"
#include "update_security/public_key.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane {
namespace {

using testing::hex_bytes;

constexpr std::string_view kBasePoint = "5866666666666666666666666666666666666666666666666666666666666666";
// y = 2 has no x on edwards25519.
constexpr std::string_view kYWithoutX = "0200000000000000000000000000000000000000000000000000000000000000";

Status check_point_hex(std::string_view hex) {
    auto bytes = hex_bytes(hex);
    std::array<std::uint8_t, 32> encoding{};
    EXPECT_EQ(bytes.size(), encoding.size());
    std::copy_n(bytes.begin(), std::min(bytes.size(), encoding.size()), encoding.begin());
    return check_edwards_point(encoding);
}

TEST(UpdatePublicKeyPoint, AppliesOnlyTheNoSquareRootRefusal) {
    struct Case {
        const char* name;
        std::string_view encoding;
        bool is_point;
    };
    const Case cases[] = {
        {"base point", kBasePoint, true},
        // The sign bit picks the other root: -B has the same y.
        {"negated base point", "58666666666666666666666666666666666666666666666666666666666666e6", true},
        {"identity (0, 1)", "0100000000000000000000000000000000000000000000000000000000000000", true},
        // x = 0 with the sign bit set: kept as x = 0, as the verifier reads it.
        {"(0, 1) with the sign bit", "0100000000000000000000000000000000000000000000000000000000000080", true},
        {"(0, -1) with the sign bit", "ecffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff", true},
        // y = p + 1 is taken as y = 1, y = p as y = 0 (x a square root of -1).
        {"y = p + 1", "eeffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", true},
        {"y = p", "edffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff7f", true},
        {"y = 2", kYWithoutX, false},
        {"y = 7 with the sign bit", "0700000000000000000000000000000000000000000000000000000000000080", false},
    };
    for (const Case& c : cases) {
        const auto checked = check_point_hex(c.encoding);
        EXPECT_EQ(checked.has_value(), c.is_point) << c.name;
        if (!checked) {
            EXPECT_EQ(checked.error(), "Invalid Edwards point encoding.") << c.name;
        }
    }
}

TEST(UpdatePublicKeyPoint, DecodesFreshKeys) {
    for (int i = 0; i < 8; ++i) {
        testing::TestSigningKey key;
        auto decoded = decode_update_public_key(key.public_key_text());
        ASSERT_TRUE(decoded.has_value()) << decoded.error();
        EXPECT_EQ(testing::Bytes(decoded->begin(), decoded->end()), key.public_key());
    }
}

TEST(UpdatePublicKeyText, TrimsThenRequires64HexDigitsOfAPoint) {
    const std::string base(kBasePoint);
    std::string upper = base;
    std::ranges::transform(upper, upper.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    struct Case {
        const char* name;
        std::string text;
        bool decodes;
    };
    const Case cases[] = {
        {"stored form", base + "\r\n", true},
        {"no line end", base, true},
        {"surrounding blanks", " \t" + base + " \n", true},
        {"upper-case digits", upper + "\r\n", true},
        {"63 digits", base.substr(1) + "\r\n", false},
        {"65 digits", base + "6\r\n", false},
        {"inner blank", base.substr(0, 32) + " " + base.substr(33), false},
        {"non-hex digit", "g" + base.substr(1), false},
        {"empty", "", false},
        {"y with no x", std::string(kYWithoutX) + "\r\n", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(decode_update_public_key(c.text).has_value(), c.decodes) << c.name;
    }
    EXPECT_EQ(decode_update_public_key("zz" + base.substr(2)).error(), kInvalidHexadecimal);
}

TEST(UpdatePublicKeyText, StoredFormIsExactly64LowerCaseHexDigitsAndCrLf) {
    const std::string base(kBasePoint);
    EXPECT_TRUE(is_update_public_key_text(base + "\r\n"));
    for (const std::string& text : {base, base + "\n", base + "\r\n\r\n", " " + base + "\r\n",
                                    "A" + base.substr(1) + "\r\n", base.substr(1) + "\r\n", base + "6\r\n"}) {
        EXPECT_FALSE(is_update_public_key_text(text)) << text;
    }
}

TEST(UpdatePublicKeyText, EmbeddedKeyIsInStoredFormAndDecodes) {
    EXPECT_TRUE(is_update_public_key_text(update_public_key()));
    auto decoded = decode_update_public_key(update_public_key());
    ASSERT_TRUE(decoded.has_value()) << decoded.error();
    EXPECT_EQ(encode_hex_lower(*decoded), update_public_key().substr(0, 64));
}

}  // namespace
}  // namespace vostrane
