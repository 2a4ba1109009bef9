#pragma once
// Text is UTF-8 inside the helper; Windows calls take UTF-16.
#include <string>
#include <string_view>

#include "result.hpp"

namespace vostrane {

// UTF-16 to UTF-8; fails on an unpaired surrogate.
Result<std::string> utf16_to_utf8(std::u16string_view text);

// UTF-16 to UTF-8 for display: each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8_lossy(std::u16string_view text);

// UTF-8 to UTF-16. Invalid UTF-8 sequences become U+FFFD.
std::u16string utf8_to_utf16(std::string_view text);

// Whether the bytes are well-formed UTF-8.
bool is_valid_utf8(std::string_view text);

// Removes characters with the Unicode White_Space property from both ends of
// UTF-8 text; inner characters are kept.
std::string_view trim_white_space(std::string_view text);

// Lower-cases the ASCII letters A to Z only.
std::string ascii_lower(std::string_view text);

// Compares without regard to the case of ASCII letters; other bytes exactly.
bool ascii_iequals(std::string_view a, std::string_view b);

}  // namespace vostrane
