// The helper's digest loop in process: vostrane::digest_stream over 16 MiB,
// its 64 KiB buffer "refilled" by a reader that copies nothing, beside a bare
// OpenSSL loop (EVP_DigestUpdate over one 64 KiB buffer, the same 16 MiB).
// The ratio of the two is what the loop itself costs: the std::function call
// per chunk, the checks, the buffer, the hex text.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstdint>
#include <vector>

#include "update_security/package_digest.hpp"

namespace {

constexpr std::size_t kChunks = 256;  // 256 x 64 KiB = 16 MiB a digest
constexpr std::int64_t kBytes = static_cast<std::int64_t>(kChunks * vostrane::kPackageReadBufferSize);

void DigestStream(benchmark::State& state) {
    for (auto _ : state) {
        std::size_t left = kChunks;
        auto digest = vostrane::digest_stream(
            [&left](std::span<std::uint8_t> buffer) -> vostrane::Result<std::size_t> {
                if (left == 0) return 0;
                --left;
                return buffer.size();
            });
        if (!digest) state.SkipWithError(digest.error().c_str());
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

void BareEvpLoop(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(vostrane::kPackageReadBufferSize);
    for (auto _ : state) {
        EVP_MD_CTX* context = EVP_MD_CTX_new();
        EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
        for (std::size_t i = 0; i < kChunks; ++i) EVP_DigestUpdate(context, buffer.data(), buffer.size());
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        EVP_DigestFinal_ex(context, digest, &size);
        EVP_MD_CTX_free(context);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(state.iterations() * kBytes);
}

}  // namespace

BENCHMARK(DigestStream)->Unit(benchmark::kMillisecond);
BENCHMARK(BareEvpLoop)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
