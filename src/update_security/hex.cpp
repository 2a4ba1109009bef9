#include "hex.hpp"

#include <optional>

namespace vostrane {
namespace {

std::optional<std::uint8_t> hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

}  // namespace

bool is_ascii_hex_digit(char c) { return hex_digit_value(c).has_value(); }

std::string encode_hex_lower(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t byte : bytes) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0f]);
    }
    return text;
}

Result<std::vector<std::uint8_t>> decode_hex(std::string_view text) {
    if (text.size() % 2 != 0) return failure(std::string(kInvalidHexadecimal));
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        auto high = hex_digit_value(text[i]);
        auto low = hex_digit_value(text[i + 1]);
        if (!high || !low) return failure(std::string(kInvalidHexadecimal));
        bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
    }
    return bytes;
}

}  // namespace vostrane
