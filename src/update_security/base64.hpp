#pragma once
// Standard Base64 (RFC 4648 section 4) with padding, decoded strictly so that
// every byte string has exactly one accepted text.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "result.hpp"

namespace vostrane {

std::string encode_base64(std::span<const std::uint8_t> bytes);

// Accepts only canonical text: alphabet characters, "=" padding to a whole
// number of 4-character groups and only at the end, and zero unused bits in
// the last data character. No white space anywhere; the empty text is zero bytes.
Result<std::vector<std::uint8_t>> decode_base64_strict(std::string_view text);

}  // namespace vostrane
