#include "base64.hpp"

#include <algorithm>
#include <optional>

namespace vostrane {
namespace {

constexpr std::string_view kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kPadding = '=';

std::optional<std::uint32_t> sextet_value(char c) {
    auto position = kAlphabet.find(c);
    if (position == std::string_view::npos) return std::nullopt;
    return static_cast<std::uint32_t>(position);
}

// How many characters of the final group carry data: 4, 3 or 2. Padding is
// allowed only as "xx==" or "xxx="; any other "=" then fails as a non-alphabet
// character.
std::size_t final_group_data_length(std::string_view group) {
    if (group[3] != kPadding) return 4;
    if (group[2] != kPadding) return 3;
    return 2;
}

}  // namespace

std::string encode_base64(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t block = 0;
        for (std::size_t j = 0; j < 3; ++j) block = block << 8 | (j < count ? bytes[i + j] : 0u);
        for (std::size_t j = 0; j < 4; ++j) {
            text.push_back(j <= count ? kAlphabet[(block >> (18 - 6 * j)) & 0x3f] : kPadding);
        }
    }
    return text;
}

Result<std::vector<std::uint8_t>> decode_base64_strict(std::string_view text) {
    const auto invalid = [] { return failure("Invalid Base64 text."); };
    if (text.size() % 4 != 0) return invalid();

    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t start = 0; start < text.size(); start += 4) {
        std::string_view group = text.substr(start, 4);
        bool is_last = start + 4 == text.size();
        std::size_t data_length = is_last ? final_group_data_length(group) : 4;

        std::uint32_t block = 0;
        for (std::size_t j = 0; j < data_length; ++j) {
            auto value = sextet_value(group[j]);
            if (!value) return invalid();
            block = block << 6 | *value;
        }
        // Unused low bits of the last data character must be zero: 4 bits
        // when 2 characters carry 1 byte, 2 bits when 3 carry 2 bytes.
        std::size_t unused_bits = (6 * data_length) % 8;
        if ((block & ((1u << unused_bits) - 1)) != 0) return invalid();
        block >>= unused_bits;

        std::size_t byte_count = data_length * 6 / 8;
        for (std::size_t j = byte_count; j-- > 0;) bytes.push_back(static_cast<std::uint8_t>(block >> (8 * j)));
    }
    return bytes;
}

}  // namespace vostrane
