#include "package_digest.hpp"

#include <vector>

#include "hex.hpp"
#include "openssl_handles.hpp"
#include "package_check.hpp"

namespace vostrane {

Result<std::string> digest_stream(const ReadChunk& read_chunk) {
    openssl::unique_md_ctx context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return failure("SHA-256 is not available.");
    }
    std::vector<std::uint8_t> buffer(kPackageReadBufferSize);
    for (;;) {
        auto read = read_chunk(buffer);
        RETURN_IF_FAILED(read);
        if (*read == 0) break;
        if (EVP_DigestUpdate(context.get(), buffer.data(), *read) != 1) return failure("SHA-256 update failed.");
    }
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int digest_length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &digest_length) != 1) return failure("SHA-256 finish failed.");
    return encode_hex_lower({digest, digest_length});
}

bool digest_matches(std::string_view package_digest, std::string_view expected_sha256) {
    return package_digest == expected_sha256;
}

}  // namespace vostrane
