// The helper's signature check in process: verify_update_signature over a
// statement signed here with the development key (the bench tree embeds the
// development public key), beside its yardstick, one bare Ed25519
// verification by OpenSSL of the same 136-byte statement with the key already
// parsed (EVP_DigestVerifyInit + EVP_DigestVerify): the library's floor. The
// ratio is what the check adds: option text, hex key, strict Base64, the
// canonical-S test and a fresh key object a call.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "update_security/update_signature.hpp"

namespace {

constexpr char kVersion[] = "1.4.0";
constexpr char kDigest[] = "9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08";

EVP_PKEY* private_key = nullptr;
EVP_PKEY* public_key = nullptr;
std::string statement;
std::string signature_base64;
std::vector<unsigned char> signature_bytes;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "signature-benchmark: %s\n", what);
    std::exit(1);
}

void prepare() {
    std::FILE* file = std::fopen(VOSTRANE_KEYS_DIR "/development-update-private-key.pem", "rb");
    if (file == nullptr) fail("cannot open the development private key");
    private_key = PEM_read_PrivateKey(file, nullptr, nullptr, nullptr);
    std::fclose(file);
    if (private_key == nullptr) fail("cannot read the development private key");

    statement = vostrane::signed_update_statement(vostrane::kAcceptedKeyId, kVersion, kDigest);
    signature_bytes.resize(64);
    std::size_t size = signature_bytes.size();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    if (EVP_DigestSignInit(context, nullptr, nullptr, nullptr, private_key) != 1 ||
        EVP_DigestSign(context, signature_bytes.data(), &size,
                       reinterpret_cast<const unsigned char*>(statement.data()), statement.size()) != 1) {
        fail("signing failed");
    }
    EVP_MD_CTX_free(context);
    std::vector<unsigned char> text(4 * ((size + 2) / 3) + 1);
    const int length = EVP_EncodeBlock(text.data(), signature_bytes.data(), static_cast<int>(size));
    signature_base64.assign(text.begin(), text.begin() + length);

    unsigned char raw[32];
    std::size_t raw_size = sizeof raw;
    if (EVP_PKEY_get_raw_public_key(private_key, raw, &raw_size) != 1) fail("no public key");
    public_key = EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, raw, raw_size);

    if (!vostrane::verify_update_signature(kVersion, kDigest, signature_base64, vostrane::kAcceptedKeyId, "ed25519")) {
        fail("the helper refuses the development key's signature: this tree embeds another key");
    }
}

void VerifyUpdateSignature(benchmark::State& state) {
    for (auto _ : state) {
        auto verified = vostrane::verify_update_signature(kVersion, kDigest, signature_base64,
                                                          vostrane::kAcceptedKeyId, "ed25519");
        if (!verified) state.SkipWithError(verified.error().c_str());
        benchmark::DoNotOptimize(verified);
    }
}

void BareEd25519Verify(benchmark::State& state) {
    const auto* message = reinterpret_cast<const unsigned char*>(statement.data());
    for (auto _ : state) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        const bool ok = EVP_DigestVerifyInit(context, nullptr, nullptr, nullptr, public_key) == 1 &&
                        EVP_DigestVerify(context, signature_bytes.data(), signature_bytes.size(), message,
                                         statement.size()) == 1;
        EVP_MD_CTX_free(context);
        if (!ok) state.SkipWithError("EVP_DigestVerify refused the signature");
        benchmark::DoNotOptimize(ok);
    }
}

}  // namespace

BENCHMARK(VerifyUpdateSignature)->Unit(benchmark::kMicrosecond);
BENCHMARK(BareEd25519Verify)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    prepare();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    EVP_PKEY_free(public_key);
    EVP_PKEY_free(private_key);
    return 0;
}
