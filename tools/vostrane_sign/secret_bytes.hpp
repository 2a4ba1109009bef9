#pragma once
// Bytes that must not stay in memory after use: a private key's PEM text, a
// password. The storage is sized once and never grows, so no copy is left
// behind in freed memory, and all of it is wiped when it is released.
#include <openssl/crypto.h>

#include <cstddef>
#include <cstdlib>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace vostrane::sign_tool {

class SecretBytes {
public:
    SecretBytes() = default;
    // Empty, with room for `capacity` bytes and no more.
    explicit SecretBytes(std::size_t capacity) : storage_(capacity) {}
    // A copy of `text`.
    explicit SecretBytes(std::string_view text) : storage_(text.begin(), text.end()), size_(text.size()) {}

    ~SecretBytes() { OPENSSL_cleanse(storage_.data(), storage_.size()); }
    // A moved-from vector is empty: the bytes exist once, in the new owner.
    SecretBytes(SecretBytes&& other) noexcept
        : storage_(std::move(other.storage_)), size_(std::exchange(other.size_, 0)) {}
    // No assignment: replacing held bytes would free them unwiped if a later
    // change got the order wrong, and nothing needs it; an owner is made once.
    SecretBytes& operator=(SecretBytes&&) = delete;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    [[nodiscard]] std::string_view text() const { return {storage_.data(), size_}; }
    [[nodiscard]] std::size_t size() const { return size_; }

    // The room after the bytes held, for a read to fill; `grow` then counts what it filled.
    [[nodiscard]] std::span<char> unused() { return std::span(storage_).subspan(size_); }
    // More than the room left would put bytes beyond the storage that the
    // destructor wipes, so it ends the program rather than count them.
    void grow(std::size_t count) {
        if (count > storage_.size() - size_) std::abort();
        size_ += count;
    }

private:
    std::vector<char> storage_;
    std::size_t size_ = 0;
};

}  // namespace vostrane::sign_tool
