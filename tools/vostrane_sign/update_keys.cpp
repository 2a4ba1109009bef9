#include "update_keys.hpp"

#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>

#include "update_security/base64.hpp"
#include "update_security/hex.hpp"

namespace vostrane::sign_tool {
namespace {

using unique_bio = std::unique_ptr<BIO, openssl::deleter<BIO_free_all>>;
using unique_key_info = std::unique_ptr<PKCS8_PRIV_KEY_INFO, openssl::deleter<PKCS8_PRIV_KEY_INFO_free>>;
using unique_sealed_key = std::unique_ptr<X509_SIG, openssl::deleter<X509_SIG_free>>;

// PBKDF2-HMAC-SHA256 rounds that turn the password into the key's AES-256
// key: OpenSSL's default of 2048 is cheap to guess against; this many cost an
// attacker about as much per guess as current guidance for PBKDF2-SHA256 asks.
constexpr int kPasswordIterations = 600000;
// Random salt bytes; OpenSSL's default is 8.
constexpr int kSaltSize = 16;

// The longest password that both OpenSSL's reading of a key (1024 bytes) and
// the openssl command line's -passin file: (1023) take whole.
constexpr std::size_t kMaximumPasswordSize = 1023;

// What OpenSSL's password callback hands out, and whether OpenSSL asked for it:
// it asks only when the key is encrypted.
struct PasswordRequest {
    const KeyPassword* password = nullptr;
    bool asked = false;
};

// Never prompts on the terminal: without a password an encrypted key is refused.
int supply_password(char* buffer, int size, int, void* data) {
    auto* request = static_cast<PasswordRequest*>(data);
    request->asked = true;
    if (request->password == nullptr) return -1;
    std::string_view text = request->password->text();
    if (size < 0 || text.size() > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, text.data(), text.size());
    return static_cast<int>(text.size());
}

Result<std::string> public_key_text_of(EVP_PKEY* key) {
    std::array<std::uint8_t, 32> raw{};
    std::size_t size = raw.size();
    if (EVP_PKEY_get_raw_public_key(key, raw.data(), &size) != 1 || size != raw.size()) {
        return failure("Cannot read the Ed25519 public key.");
    }
    return encode_hex_lower(raw) + "\r\n";
}

Result<SecretBytes> private_key_pem(EVP_PKEY* key, const std::optional<KeyPassword>& password) {
    unique_bio memory(BIO_new(BIO_s_mem()));
    if (!memory) return failure("Cannot write the private key as PEM.");
    int written = 0;
    if (!password) {
        written = PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0, nullptr, nullptr);
    } else {
        // PBES2: AES-256-CBC with a random salt and IV, the key derived by PBKDF2-HMAC-SHA256.
        std::string_view text = password->text();
        unique_key_info info(EVP_PKEY2PKCS8(key));
        unique_sealed_key sealed(info ? PKCS8_encrypt_ex(-1, EVP_aes_256_cbc(), text.data(), static_cast<int>(text.size()),
                                                         nullptr, kSaltSize, kPasswordIterations, info.get(), nullptr,
                                                         nullptr)
                                      : nullptr);
        written = sealed ? PEM_write_bio_PKCS8(memory.get(), sealed.get()) : 0;
    }
    if (written != 1) return failure("Cannot write the private key as PEM.");
    char* data = nullptr;
    long size = BIO_get_mem_data(memory.get(), &data);
    // The memory BIO wipes its own buffer when it is freed.
    return SecretBytes(std::string_view(data, static_cast<std::size_t>(size)));
}

openssl::unique_pkey read_private_key(std::string_view pem, PasswordRequest& request) {
    unique_bio memory(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!memory) return nullptr;
    ERR_set_mark();
    openssl::unique_pkey key(PEM_read_bio_PrivateKey(memory.get(), nullptr, supply_password, &request));
    ERR_pop_to_mark();
    return key;
}

}  // namespace

Result<KeyPassword> KeyPassword::from_file_content(const SecretBytes& content, const std::string& source) {
    const std::string_view whole = content.text();
    const std::string_view text = whole.substr(0, whole.find_first_of("\r\n"));
    if (text.empty()) return failure(source + " holds no password: its first line is empty.");
    if (text.size() > kMaximumPasswordSize) {
        return failure(source + ": the password is longer than " + std::to_string(kMaximumPasswordSize) + " bytes.");
    }
    return KeyPassword(text);
}

Result<KeyPairFiles> generate_update_key_pair(const std::optional<KeyPassword>& password) {
    openssl::unique_pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) return failure("Cannot generate an Ed25519 key pair.");
    auto pem = private_key_pem(key.get(), password);
    RETURN_IF_FAILED(pem);
    auto public_text = public_key_text_of(key.get());
    RETURN_IF_FAILED(public_text);
    return KeyPairFiles{std::move(*pem), std::move(*public_text)};
}

Result<UpdateSigningKey> UpdateSigningKey::from_pem(std::string_view pem, const std::string& source,
                                                    const std::optional<KeyPassword>& password) {
    PasswordRequest request{password ? &*password : nullptr};
    auto key = read_private_key(pem, request);
    if (!key) {
        if (!request.asked) return failure(source + " does not hold a PEM private key.");
        if (!password) return failure(source + " is encrypted: give its password with --password-file.");
        return failure(source + ": the password does not open this key.");
    }
    if (password && !request.asked) {
        return failure(source + " is not encrypted, yet --password-file was given: leave it out, or encrypt the key.");
    }
    if (EVP_PKEY_get_id(key.get()) != EVP_PKEY_ED25519) {
        const char* type = EVP_PKEY_get0_type_name(key.get());
        return failure(source + " holds a key of type " + (type ? std::string(type) : "unknown") +
                       "; update signatures need an Ed25519 key.");
    }
    auto public_text = public_key_text_of(key.get());
    RETURN_IF_FAILED(public_text);
    return UpdateSigningKey(std::move(key), std::move(*public_text), request.asked);
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
