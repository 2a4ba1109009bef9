#include "test_signing.hpp"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

#include "update_security/hex.hpp"

namespace vostrane::testing {
namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::unique_ptr<EVP_PKEY, KeyFree> load_private_key() {
    std::FILE* file = std::fopen(development_private_key_path().c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + development_private_key_path());
    std::unique_ptr<EVP_PKEY, KeyFree> key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!key) throw std::runtime_error("cannot read the development private key");
    return key;
}

std::string base64(const unsigned char* bytes, int size) {
    std::vector<unsigned char> text(4 * ((size + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(text.data(), bytes, size);
    return std::string(text.begin(), text.begin() + length);
}

}  // namespace

std::string development_private_key_path() { return VOSTRANE_KEYS_DIR "/development-update-private-key.pem"; }

std::string sign_with_development_key(const std::string& message) {
    auto key = load_private_key();
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    unsigned char signature[64];
    std::size_t size = sizeof signature;
    if (EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), signature, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
        throw std::runtime_error("signing failed");
    }
    return base64(signature, static_cast<int>(size));
}

std::string sha256_hex(const std::string& bytes) {
    std::uint8_t digest[32];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    return encode_hex_lower(std::span(digest, size));
}

}  // namespace vostrane::testing
