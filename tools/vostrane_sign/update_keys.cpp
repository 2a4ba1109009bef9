#include "update_keys.hpp"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "update_security/base64.hpp"
#include "update_security/hex.hpp"

namespace vostrane::sign_tool {
namespace {

using unique_bio = std::unique_ptr<BIO, openssl::deleter<BIO_free_all>>;

// Never prompt on the terminal for a pass phrase: encrypted keys are refused.
int refuse_pass_phrase(char*, int, int, void*) { return -1; }

Result<std::string> public_key_text_of(EVP_PKEY* key) {
    std::array<std::uint8_t, 32> raw{};
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &size) != 1 || size != raw.size()) {
        return failure("Cannot read the Ed25519 public key.");
    }
    return encode_hex_lower(raw) + "\r\n";
}

Result<std::string> private_key_pem(EVP_PKEY* key) {
    unique_bio memory(BIO_new(BIO_s_mem()));
    if (!memory || PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        return failure("Cannot write the private key as PEM.");
    }
    char* data = nullptr;
    long size = BIO_get_mem_data(memory.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

openssl::unique_pkey read_private_key(std::string_view pem) {
    unique_bio memory(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!memory) return nullptr;
    ERR_set_mark();
    openssl::unique_pkey key(PEM_read_bio_PrivateKey(memory.get(), nullptr, refuse_pass_phrase, nullptr));
    ERR_pop_to_mark();
    return key;
}

}  // namespace

Result<KeyPairFiles> generate_update_key_pair() {
    openssl::unique_pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) return failure("Cannot generate an Ed25519 key pair.");
    auto pem = private_key_pem(key.get());
    if (!pem) return failure(pem.error());
    auto public_text = public_key_text_of(key.get());
    if (!public_text) return failure(public_text.error());
    return KeyPairFiles{std::move(*pem), std::move(*public_text)};
}

Result<UpdateSigningKey> UpdateSigningKey::from_pem(std::string_view pem, const std::string& source) {
    auto key = read_private_key(pem);
    if (!key) return failure(source + " does not hold an unencrypted PEM private key.");
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        const char* type = EVP_PKEY_get0_type_name(key.get());
        return failure(source + " holds a key of type " + (type ? std::string(type) : "unknown") +
                       "; update signatures need an Ed25519 key.");
    }
    auto public_text = public_key_text_of(key.get());
    if (!public_text) return failure(public_text.error());
    return UpdateSigningKey(std::move(key), std::move(*public_text));
}

Result<std::string> UpdateSigningKey::sign(std::string_view message) const {
    openssl::unique_md_ctx context(EVP_MD_CTX_new());
    std::array<std::uint8_t, 64> signature{};
    std::size_t size = signature.size();
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key_.get()) != 1 ||
        EVP_DigestSign(context.get(), signature.data(), &size,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1 ||
        size != signature.size()) {
        return failure("Signing failed.");
    }
    return encode_base64(signature);
}

}  // namespace vostrane::sign_tool
