// The package checks' plain logic: the streaming digest and the digest
// comparison; natively also the file-based checks against POSIX files.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "update_security/hex.hpp"
#include "update_security/package_check.hpp"
#include "update_security/package_digest.hpp"

namespace vostrane {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes random_bytes(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

std::string one_shot_sha256(const Bytes& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr), 1);
    return encode_hex_lower({digest, size});
}

// Hands out `content` at most `chunk` bytes per read, and records what it was given.
class ScriptedReader {
public:
    ScriptedReader(const Bytes& content, std::size_t chunk) : content_(content), chunk_(chunk) {}

    Result<std::size_t> operator()(std::span<std::uint8_t> buffer) {
        EXPECT_EQ(buffer.size(), kPackageReadBufferSize);
        if (buffer_ == nullptr) buffer_ = buffer.data();
        EXPECT_EQ(buffer.data(), buffer_) << "the one buffer is reused";
        std::size_t count = std::min({chunk_, buffer.size(), content_.size() - position_});
        std::copy_n(content_.begin() + static_cast<std::ptrdiff_t>(position_), count, buffer.begin());
        position_ += count;
        ++reads_;
        return count;
    }

    [[nodiscard]] int reads() const { return reads_; }

private:
    const Bytes& content_;
    std::size_t chunk_;
    std::size_t position_ = 0;
    const std::uint8_t* buffer_ = nullptr;
    int reads_ = 0;
};

TEST(PackageDigest, StreamsToTheOneShotDigestAtEverySizeAndReadLength) {
    const std::size_t sizes[] = {0, 1, 63, 64, 65, 65535, 65536, 65537, 3 * 65536 + 100};
    const std::size_t chunks[] = {kPackageReadBufferSize, 1000, 1};
    for (std::size_t size : sizes) {
        Bytes content = random_bytes(size, static_cast<unsigned>(size));
        for (std::size_t chunk : chunks) {
            if (chunk == 1 && size > 70000) continue;  // a byte at a time is slow under the sanitizers
            ScriptedReader reader(content, chunk);
            auto digest = digest_stream(std::ref(reader));
            ASSERT_TRUE(digest.has_value()) << digest.error();
            EXPECT_EQ(*digest, one_shot_sha256(content)) << size << " bytes in reads of " << chunk;
            // Every read that returned data, then the one that returned 0.
            EXPECT_EQ(reader.reads(), static_cast<int>((size + chunk - 1) / chunk) + 1);
        }
    }
}

TEST(PackageDigest, EmptyInputGivesTheDigestOfZeroBytes) {
    auto digest = digest_stream([](std::span<std::uint8_t>) -> Result<std::size_t> { return 0; });
    EXPECT_EQ(digest, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(PackageDigest, AFailedReadEndsItWithThatReadsMessage) {
    int reads = 0;
    auto digest = digest_stream([&reads](std::span<std::uint8_t> buffer) -> Result<std::size_t> {
        if (++reads == 3) return failure("The device is not ready. (os error 21)");
        return buffer.size();
    });
    ASSERT_FALSE(digest.has_value());
    EXPECT_EQ(digest.error(), "The device is not ready. (os error 21)");
    EXPECT_EQ(reads, 3);
}

TEST(PackageDigest, MatchesOnlyTheSameBytes) {
    const std::string digest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    EXPECT_TRUE(digest_matches(digest, digest));
    const std::string others[] = {
        digest.substr(1),                          // 63 digits
        digest + "5",                              // 65 digits
        "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855",  // not lower-cased by the caller
        "sha256:" + digest,
        digest.substr(0, 32) + " " + digest.substr(32),
        digest + "\n",
        "",
    };
    for (const std::string& expected : others) EXPECT_FALSE(digest_matches(digest, expected)) << expected;
}

#ifndef _WIN32
// The native file access, which the signing tool uses on Linux.
class NativePackageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = std::filesystem::temp_directory_path() /
                     ("vostrane-package-check-" + std::to_string(::getpid()));
        std::filesystem::create_directories(directory_);
    }
    void TearDown() override { std::filesystem::remove_all(directory_); }

    std::string write_file(const std::string& name, const Bytes& content) {
        std::filesystem::path path = directory_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(content.data()),
                                                     static_cast<std::streamsize>(content.size()));
        return path.string();
    }

    static std::string sha256sum(const std::string& path) {
        std::FILE* pipe = ::popen(("sha256sum '" + path + "'").c_str(), "r");
        EXPECT_NE(pipe, nullptr);
        char line[65] = {};
        EXPECT_EQ(std::fread(line, 1, 64, pipe), 64u);
        ::pclose(pipe);
        return std::string(line, 64);
    }

    std::filesystem::path directory_;
};

TEST_F(NativePackageFiles, DigestAgreesWithSha256sum) {
    const std::size_t sizes[] = {0, 63, 64, 65, 65535, 65536, 65537, 1000003};
    for (std::size_t size : sizes) {
        std::string path = write_file("package-" + std::to_string(size) + ".msi", random_bytes(size, 7 + size));
        auto digest = compute_package_digest(path);
        ASSERT_TRUE(digest.has_value()) << digest.error();
        EXPECT_EQ(*digest, sha256sum(path)) << size;
    }
}

TEST_F(NativePackageFiles, DigestErrorsUseTheOsErrorForm) {
    EXPECT_EQ(compute_package_digest((directory_ / "missing.msi").string()).error(),
              "No such file or directory (os error 2)");
    EXPECT_EQ(compute_package_digest(directory_.string()).error(), "Is a directory (os error 21)");
}

TEST_F(NativePackageFiles, MsiCheckFollowsLinksToRegularFiles) {
    std::string msi = write_file("update.MSI", {'x'});
    std::string text = write_file("update.msi.tmp", {});
    std::filesystem::create_directory(directory_ / "pkg.msi");
    std::filesystem::create_symlink(msi, directory_ / "link.msi");
    std::filesystem::create_symlink(directory_ / "nowhere", directory_ / "dangling.msi");
    std::filesystem::create_symlink(text, directory_ / "link-to-tmp.msi");

    EXPECT_TRUE(is_msi_package(msi));
    EXPECT_TRUE(is_msi_package((directory_ / "link.msi").string()));
    EXPECT_TRUE(is_msi_package((directory_ / "link-to-tmp.msi").string()));  // the name given counts
    EXPECT_FALSE(is_msi_package(text));
    EXPECT_FALSE(is_msi_package((directory_ / "pkg.msi").string()));
    EXPECT_FALSE(is_msi_package((directory_ / "dangling.msi").string()));
    EXPECT_FALSE(is_msi_package((directory_ / "missing.msi").string()));
}
#endif

}  // namespace
}  // namespace vostrane
