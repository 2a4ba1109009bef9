// Published Ed25519 vectors through the update signature verification: Project
// Wycheproof's, and the twelve edge cases of "Taming the many EdDSAs", whose
// accept/refuse pattern pins down the verification rules (canonical S, R
// compared by its bytes, no cofactor, no small-order refusal).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ed25519_test_keys.hpp"
#include "json_test_reader.hpp"
#include "update_security/base64.hpp"
#include "update_security/ed25519.hpp"
#include "update_security/public_key.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane {
namespace {

using testing::Bytes;
using testing::hex_bytes;

struct Vector {
    std::string name;
    std::string public_key_hex;
    Bytes message;
    Bytes signature;
    bool valid;
};

std::string vector_path(const char* file) { return std::string(VOSTRANE_TEST_DATA) + "/vectors/" + file; }

std::vector<Vector> wycheproof_vectors() {
    std::vector<Vector> vectors;
    testing::JsonValue document = testing::read_json_file(vector_path("ed25519_wycheproof.json"));
    for (const testing::JsonValue& group : document["testGroups"].items) {
        for (const testing::JsonValue& test : group["tests"].items) {
            std::string result = test["result"].scalar;
            EXPECT_TRUE(result == "valid" || result == "invalid") << result;
            vectors.push_back({"tcId " + test["tcId"].scalar + " " + test["comment"].scalar,
                               group["publicKey"]["pk"].scalar, hex_bytes(test["msg"].scalar),
                               hex_bytes(test["sig"].scalar), result == "valid"});
        }
    }
    return vectors;
}

// The key decoded as the helper decodes its embedded key, then the verification core.
bool verifies(const Vector& vector) {
    auto key = decode_update_public_key(vector.public_key_hex + "\r\n");
    EXPECT_TRUE(key.has_value()) << vector.name;
    if (!key || vector.signature.size() != kEd25519SignatureSize) return false;
    return ed25519_signature_is_valid(*key, vector.message,
                                      std::span<const std::uint8_t, kEd25519SignatureSize>(vector.signature));
}

TEST(Ed25519Vectors, WycheproofSixtyFourByteSignaturesGiveTheirResult) {
    int checked = 0;
    for (const Vector& vector : wycheproof_vectors()) {
        if (vector.signature.size() != kEd25519SignatureSize) continue;
        EXPECT_EQ(verifies(vector), vector.valid) << vector.name;
        ++checked;
    }
    EXPECT_EQ(checked, 139);
}

TEST(Ed25519Vectors, WycheproofOtherLengthsAreRefusedForTheirLength) {
    constexpr std::string_view kDigest = "ad091a220bc7f4ba7067a22dc6dad70134afec9c6f05a385a02f5aa9939d81d5";
    int checked = 0;
    for (const Vector& vector : wycheproof_vectors()) {
        if (vector.signature.size() == kEd25519SignatureSize) continue;
        EXPECT_FALSE(vector.valid) << vector.name;
        auto status = verify_update_signature_with_key(vector.public_key_hex + "\r\n", "1.4.0", kDigest,
                                                       encode_base64(vector.signature), kAcceptedKeyId, "ed25519");
        ASSERT_FALSE(status.has_value()) << vector.name;
        EXPECT_EQ(status.error(), "Update signature has an invalid length.") << vector.name;
        ++checked;
    }
    EXPECT_EQ(checked, 12);
}

TEST(Ed25519Vectors, EdgeCaseVectorsGiveTheRequiredPattern) {
    // Cases 0 to 11: small-order and mixed-order keys and R accepted (0-3),
    // the cofactored-only equation refused (4, 5), S >= L refused (6, 7),
    // non-canonical R refused (8, 9), and the non-canonical key y = -1 with the
    // sign bit set read as x = 0 (10 refused by its hash, 11 accepted).
    const std::vector<bool> expected = {true, true, true, true, false, false, false, false, false, false, false, true};
    testing::JsonValue cases = testing::read_json_file(vector_path("ed25519_edge_cases.json"));
    ASSERT_EQ(cases.items.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const testing::JsonValue& c = cases.items[i];
        Vector vector{"case " + std::to_string(i), c["pub_key"].scalar, hex_bytes(c["message"].scalar),
                      hex_bytes(c["signature"].scalar), expected[i]};
        EXPECT_EQ(verifies(vector), vector.valid) << vector.name;
    }
}

TEST(Ed25519Vectors, ScalarCanonicalityStopsBelowTheGroupOrder) {
    // L - 1 and L as little-endian bytes.
    Bytes below = hex_bytes("ecd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    Bytes order = hex_bytes("edd3f55c1a631258d69cf7a2def9de1400000000000000000000000000000010");
    Bytes top_bit = Bytes(32, 0);
    top_bit[31] = 0x80;
    EXPECT_TRUE(ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32>(below)));
    EXPECT_TRUE(ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32>(Bytes(32, 0))));
    EXPECT_FALSE(ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32>(order)));
    EXPECT_FALSE(ed25519_scalar_is_canonical(std::span<const std::uint8_t, 32>(top_bit)));
}

}  // namespace
}  // namespace vostrane
