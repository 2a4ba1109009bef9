#pragma once
// Hexadecimal text of byte strings: lower-case out, either case in.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace vostrane {

inline constexpr std::string_view kInvalidHexadecimal = "Invalid hexadecimal value.";

// Two lower-case digits per byte, high nibble first.
std::string encode_hex_lower(std::span<const std::uint8_t> bytes);

// The reverse; fails on an odd length or any byte that is not a hex digit.
Result<std::vector<std::uint8_t>> decode_hex(std::string_view text);

bool is_ascii_hex_digit(char c);

}  // namespace vostrane
