// The update signature check: its steps in order, their exact messages, and the
// statement bytes it verifies. Signatures come from OpenSSL with fresh keys.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ed25519_test_keys.hpp"
#include "update_security/base64.hpp"
#include "update_security/update_signature.hpp"

namespace vostrane {
namespace {

using testing::Bytes;

constexpr std::string_view kUnsupportedAlgorithm = "Unsupported update signature algorithm.";
constexpr std::string_view kInvalidMetadata = "Update signature metadata is invalid.";
constexpr std::string_view kInvalidKey = "The embedded update public key is invalid.";
constexpr std::string_view kNotBase64 = "Update signature is not valid Base64.";
constexpr std::string_view kInvalidLength = "Update signature has an invalid length.";
constexpr std::string_view kVerificationFailed = "Update signature verification failed.";

constexpr std::string_view kVersion = "1.4.0";
constexpr std::string_view kDigest = "ad091a220bc7f4ba7067a22dc6dad70134afec9c6f05a385a02f5aa9939d81d5";

struct Inputs {
    std::string version{kVersion};
    std::string digest{kDigest};
    std::string signature;
    std::string key_id{kAcceptedKeyId};
    std::string algorithm{"ed25519"};
};

class UpdateSignature : public ::testing::Test {
protected:
    // The check as the helper runs it, with this test's key as the embedded key.
    Status check(const Inputs& inputs, const std::string& key_text) const {
        return verify_update_signature_with_key(key_text, inputs.version, inputs.digest, inputs.signature,
                                                inputs.key_id, inputs.algorithm);
    }
    Status check(const Inputs& inputs) const { return check(inputs, key_.public_key_text()); }

    std::string message_of(const Inputs& inputs) const {
        auto status = check(inputs);
        return status ? "accepted" : status.error();
    }

    [[nodiscard]] std::string statement(std::string_view version = kVersion,
                                        std::string_view digest = kDigest) const {
        return signed_update_statement(kAcceptedKeyId, version, digest);
    }

    // Inputs with a good signature over the 1.4.0 statement.
    [[nodiscard]] Inputs signed_inputs() const {
        Inputs inputs;
        inputs.signature = key_.sign_base64(statement());
        return inputs;
    }

    [[nodiscard]] Inputs with_signature(Bytes signature) const {
        Inputs inputs = signed_inputs();
        inputs.signature = encode_base64(signature);
        return inputs;
    }

    testing::TestSigningKey key_;
};

TEST_F(UpdateSignature, StatementBytesAreFixed) {
    const std::string expected =
        "vostrane-update-v1\n"
        "key-id:vostrane-update-2026-01\n"
        "version:1.4.0\n"
        "sha256:ad091a220bc7f4ba7067a22dc6dad70134afec9c6f05a385a02f5aa9939d81d5\n";
    EXPECT_EQ(statement(), expected);
    EXPECT_EQ(statement().size(), 136u);
    for (std::string_view version : {"1", "Release 2 Beta", "1.4.0+build.7"}) {
        std::string text = statement(version);
        EXPECT_EQ(text.size(), 131 + version.size());
        EXPECT_NE(text.find("\nversion:" + std::string(version) + "\n"), std::string::npos);
    }
}

TEST_F(UpdateSignature, AcceptsAGoodSignatureWithTrimmedAndCaseFoldedInputs) {
    const Inputs good = signed_inputs();
    EXPECT_EQ(message_of(good), "accepted");

    std::vector<std::pair<const char*, Inputs>> variants;
    for (const char* algorithm : {"Ed25519", "ED25519", " ed25519\t", "\xc2\xa0" "eD25519\n"}) {
        variants.push_back({algorithm, good});
        variants.back().second.algorithm = algorithm;
    }
    variants.push_back({"version with a trailing blank", good});
    variants.back().second.version = "1.4.0 ";
    variants.push_back({"upper-case digest", good});
    variants.back().second.digest = "AD091A220BC7F4BA7067A22DC6DAD70134AFEC9C6F05A385A02F5AA9939D81D5";
    variants.push_back({"digest with a line feed", good});
    variants.back().second.digest = std::string(kDigest) + "\n";
    variants.push_back({"key id with blanks", good});
    variants.back().second.key_id = " vostrane-update-2026-01 ";
    variants.push_back({"signature with a line end", good});
    variants.back().second.signature += "\r\n";
    for (const auto& [name, inputs] : variants) EXPECT_EQ(message_of(inputs), "accepted") << name;
}

TEST_F(UpdateSignature, RefusesOtherAlgorithmsBeforeAnythingElse) {
    // Every later input is wrong too; the algorithm is still what is reported.
    Inputs inputs;
    inputs.version = "";
    inputs.key_id = "other";
    inputs.signature = "not base64";
    for (const char* algorithm : {"ed25519ph", "EdDSA", "", " ", "ed 25519", "ed2551", "ed255199",
                                  "rsa", "\xef\xbc\xa5" "d25519"}) {
        inputs.algorithm = algorithm;
        EXPECT_EQ(check(inputs, "damaged key").error(), kUnsupportedAlgorithm) << algorithm;
    }
    inputs.algorithm = std::string("ed25519\0", 8);
    EXPECT_EQ(check(inputs, "damaged key").error(), kUnsupportedAlgorithm);
}

TEST_F(UpdateSignature, RefusesInvalidMetadataBeforeTheKeyAndSignature) {
    struct Case {
        const char* name;
        std::string version;
        std::string digest;
        std::string key_id;
    };
    const std::string digest(kDigest);
    const std::string key_id(kAcceptedKeyId);
    const Case cases[] = {
        {"empty version", "", digest, key_id},
        {"blank version", " \t\xe3\x80\x80", digest, key_id},
        {"63 digits", "1.4.0", digest.substr(1), key_id},
        {"65 digits", "1.4.0", digest + "0", key_id},
        {"non-hex digit", "1.4.0", "g" + digest.substr(1), key_id},
        {"inner blank", "1.4.0", digest.substr(0, 32) + " " + digest.substr(33), key_id},
        {"prefix", "1.4.0", "sha256:" + digest.substr(7), key_id},
        {"separators", "1.4.0", digest.substr(0, 62) + ":0", key_id},
        {"empty digest", "1.4.0", "", key_id},
        {"key id in upper case", "1.4.0", digest, "VOSTRANE-UPDATE-2026-01"},
        {"key id with a suffix", "1.4.0", digest, key_id + "-old"},
        {"key id shortened", "1.4.0", digest, key_id.substr(0, 22)},
        {"empty key id", "1.4.0", digest, ""},
    };
    for (const Case& c : cases) {
        Inputs inputs{c.version, c.digest, "not base64", c.key_id, "ed25519"};
        EXPECT_EQ(check(inputs, "damaged key").error(), kInvalidMetadata) << c.name;
    }
}

TEST_F(UpdateSignature, RefusesADamagedKeyBeforeTheSignature) {
    const std::string good_key = key_.public_key_text();
    const std::string key_texts[] = {
        "",
        good_key.substr(1),                              // 63 digits
        good_key.substr(0, 64) + "0\r\n",                // 65 digits
        "x" + good_key.substr(1),                        // not hexadecimal
        good_key.substr(0, 64) + ";\r\n",                // trailing garbage
        "0200000000000000000000000000000000000000000000000000000000000000\r\n",  // y = 2: no x
    };
    for (const std::string& key_text : key_texts) {
        for (const std::string& signature : {signed_inputs().signature, std::string("not base64")}) {
            Inputs inputs = signed_inputs();
            inputs.signature = signature;
            EXPECT_EQ(check(inputs, key_text).error(), kInvalidKey) << key_text;
        }
    }
}

TEST_F(UpdateSignature, RefusesSignaturesThatAreNotCanonicalBase64) {
    // A signature whose Base64 has '+' or '/', so that the URL-safe form differs.
    Inputs inputs = signed_inputs();
    for (int i = 0; inputs.signature.find_first_of("+/") == std::string::npos && i < 100; ++i) {
        inputs.version = "1.4." + std::to_string(i);
        inputs.signature = key_.sign_base64(statement(inputs.version));
    }
    ASSERT_EQ(message_of(inputs), "accepted");
    const std::string text = inputs.signature;
    ASSERT_EQ(text.size(), 88u);
    ASSERT_TRUE(text.ends_with("=="));

    std::string url_safe = text;
    for (char& c : url_safe) c = c == '+' ? '-' : c == '/' ? '_' : c;
    const std::string variants[] = {
        text.substr(0, 86),                           // padding dropped
        text.substr(0, 44) + "\n" + text.substr(44),  // broken over two lines
        text.substr(0, 44) + "\r\n" + text.substr(44),
        url_safe,
        text + "=",
        text.substr(0, 85) + "B==",  // unused bits set
        text.substr(0, 44) + " " + text.substr(44),
    };
    for (const std::string& signature : variants) {
        inputs.signature = signature;
        EXPECT_EQ(message_of(inputs), kNotBase64) << signature;
    }
}

TEST_F(UpdateSignature, RefusesSignaturesOfAnyOtherLength) {
    const Bytes good = key_.sign(statement());
    for (std::size_t size : {0u, 1u, 32u, 63u, 65u, 96u, 128u}) {
        Bytes signature = good;
        signature.resize(size, 0x5a);
        EXPECT_EQ(message_of(with_signature(signature)), kInvalidLength) << size;
    }
}

TEST_F(UpdateSignature, RefusesSPlusGroupOrder) {
    EXPECT_EQ(message_of(with_signature(testing::with_group_order_added_to_s(key_.sign(statement())))),
              kVerificationFailed);
}

TEST_F(UpdateSignature, RefusesEveryBitFlipOfROrS) {
    const Bytes good = key_.sign(statement());
    for (std::size_t bit = 0; bit < good.size() * 8; ++bit) {
        Bytes signature = good;
        signature[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_EQ(message_of(with_signature(signature)), kVerificationFailed) << "bit " << bit;
    }
}

TEST_F(UpdateSignature, RefusesSignaturesOverAnyOtherStatement) {
    const std::string good = statement();
    std::vector<std::pair<std::string, std::string>> others = {
        {"CR LF line ends", "vostrane-update-v1\r\nkey-id:vostrane-update-2026-01\r\nversion:1.4.0\r\nsha256:" +
                                std::string(kDigest) + "\r\n"},
        {"no final line feed", good.substr(0, good.size() - 1)},
        {"upper-case digest",
         statement(kVersion, "AD091A220BC7F4BA7067A22DC6DAD70134AFEC9C6F05A385A02F5AA9939D81D5")},
        {"version 1.4.0.0", statement("1.4.0.0")},
        {"version v1.4.0", statement("v1.4.0")},
        {"version with a build suffix", statement("1.4.0+build.1")},
        {"version with a trailing blank", statement("1.4.0 ")},
        {"other key id", signed_update_statement("vostrane-update-2025-01", kVersion, kDigest)},
    };
    for (std::size_t bit = 0; bit < good.size() * 8; bit += 7) {
        std::string flipped = good;
        flipped[bit / 8] = static_cast<char>(flipped[bit / 8] ^ (1 << (bit % 8)));
        others.push_back({"bit " + std::to_string(bit) + " flipped", flipped});
    }
    Inputs inputs = signed_inputs();
    for (const auto& [name, text] : others) {
        inputs.signature = key_.sign_base64(text);
        EXPECT_EQ(message_of(inputs), kVerificationFailed) << name;
    }
}

TEST_F(UpdateSignature, RefusesASignedVersionOtherThanTheOneExpected) {
    Inputs inputs = signed_inputs();
    for (const char* version : {"1.4.0.0", "v1.4.0", "1.4.0-beta", "1.4.0+build.1", "1.4", "1. 4.0", "1.4.1"}) {
        inputs.version = version;
        EXPECT_EQ(message_of(inputs), kVerificationFailed) << version;
    }
}

TEST_F(UpdateSignature, RefusesASignatureByAnotherKey) {
    testing::TestSigningKey other;
    Inputs inputs = signed_inputs();
    inputs.signature = other.sign_base64(statement());
    EXPECT_EQ(message_of(inputs), kVerificationFailed);
}

TEST_F(UpdateSignature, EmbeddedKeyCheckRunsTheSameSteps) {
    const Inputs inputs = signed_inputs();
    const auto embedded = [](const Inputs& i) {
        auto status = verify_update_signature(i.version, i.digest, i.signature, i.key_id, i.algorithm);
        return status ? "accepted" : status.error();
    };
    // This test's key is not the embedded one.
    EXPECT_EQ(embedded(inputs), kVerificationFailed);
    Inputs other = inputs;
    other.algorithm = "EdDSA";
    EXPECT_EQ(embedded(other), kUnsupportedAlgorithm);
    other = inputs;
    other.key_id = "x";
    EXPECT_EQ(embedded(other), kInvalidMetadata);
    other = inputs;
    other.signature = inputs.signature.substr(0, 86);
    EXPECT_EQ(embedded(other), kNotBase64);
    other = inputs;
    other.signature = "AAAA";
    EXPECT_EQ(embedded(other), kInvalidLength);
}

}  // namespace
}  // namespace vostrane
