#include "unicode.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>

namespace vostrane {
namespace {

constexpr char32_t kReplacementCharacter = U'\uFFFD';

bool is_high_surrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool is_continuation_byte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

void append_utf8(std::string& out, char32_t code_point) {
    auto put = [&out](std::uint32_t byte) { out.push_back(static_cast<char>(byte)); };
    if (code_point < 0x80) {
        put(code_point);
    } else if (code_point < 0x800) {
        put(0xC0 | (code_point >> 6));
        put(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        put(0xE0 | (code_point >> 12));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    } else {
        put(0xF0 | (code_point >> 18));
        put(0x80 | ((code_point >> 12) & 0x3F));
        put(0x80 | ((code_point >> 6) & 0x3F));
        put(0x80 | (code_point & 0x3F));
    }
}

void append_utf16(std::u16string& out, char32_t code_point) {
    if (code_point < 0x10000) {
        out.push_back(static_cast<char16_t>(code_point));
        return;
    }
    const char32_t offset = code_point - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (offset >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
}

struct DecodedCharacter {
    char32_t code_point;
    std::size_t length;
};

// The range the second byte of a sequence must fall in. Narrowing it for the
// lead bytes E0, ED, F0 and F4 refuses overlong forms, encoded surrogates and
// values above U+10FFFF without decoding them first.
struct SequenceShape {
    std::size_t length;
    unsigned char second_min;
    unsigned char second_max;
};

std::optional<SequenceShape> shape_of(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return SequenceShape{2, 0x80, 0xBF};
    if (lead == 0xE0) return SequenceShape{3, 0xA0, 0xBF};
    if (lead == 0xED) return SequenceShape{3, 0x80, 0x9F};
    if (lead >= 0xE1 && lead <= 0xEF) return SequenceShape{3, 0x80, 0xBF};
    if (lead == 0xF0) return SequenceShape{4, 0x90, 0xBF};
    if (lead >= 0xF1 && lead <= 0xF3) return SequenceShape{4, 0x80, 0xBF};
    if (lead == 0xF4) return SequenceShape{4, 0x80, 0x8F};
    return std::nullopt;
}

// Decodes the character at the start of `text`. An invalid sequence yields
// U+FFFD over its longest valid-looking prefix (at least one byte), the
// "maximal subpart" practice, so one bad byte never swallows a good character.
DecodedCharacter decode_utf8(std::string_view text) {
    const auto byte_at = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte_at(0);
    if (lead < 0x80) return {lead, 1};
    const auto shape = shape_of(lead);
    if (!shape) return {kReplacementCharacter, 1};

    char32_t code_point = lead & (0xFF >> (shape->length + 1));
    for (std::size_t i = 1; i < shape->length; ++i) {
        if (i >= text.size()) return {kReplacementCharacter, i};
        const unsigned char byte = byte_at(i);
        const bool in_range = i == 1 ? (byte >= shape->second_min && byte <= shape->second_max)
                                     : is_continuation_byte(byte);
        if (!in_range) return {kReplacementCharacter, i};
        code_point = (code_point << 6) | (byte & 0x3F);
    }
    return {code_point, shape->length};
}

bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

// A well-formed white-space character at the start of `text`, by its length.
std::size_t leading_white_space_length(std::string_view text) {
    if (text.empty()) return 0;
    const DecodedCharacter decoded = decode_utf8(text);
    return is_white_space(decoded.code_point) ? decoded.length : 0;
}

// A well-formed white-space character at the end of `text`, by its length.
// Its first byte is found by stepping back over at most three continuation bytes.
std::size_t trailing_white_space_length(std::string_view text) {
    const std::size_t longest = std::min<std::size_t>(text.size(), 4);
    for (std::size_t length = 1; length <= longest; ++length) {
        const std::string_view tail = text.substr(text.size() - length);
        if (is_continuation_byte(static_cast<unsigned char>(tail.front()))) continue;
        return leading_white_space_length(tail) == length ? length : 0;
    }
    return 0;
}

char ascii_lower_char(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

namespace {

// Walks the UTF-16 text, handing each unpaired surrogate to `unpaired`, which
// either appends a stand-in and returns true, or returns false to stop.
template <class OnUnpaired>
bool convert_utf16_to_utf8(std::u16string_view text, std::string& out, OnUnpaired unpaired) {
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (is_high_surrogate(unit) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
            unit = 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00);
        } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
            if (!unpaired(static_cast<char16_t>(unit))) return false;
            continue;
        }
        append_utf8(out, unit);
    }
    return true;
}

}  // namespace

Result<std::string> utf16_to_utf8(std::u16string_view text) {
    std::string out;
    bool high = false;
    const bool converted = convert_utf16_to_utf8(text, out, [&high](char16_t unit) {
        high = is_high_surrogate(unit);
        return false;
    });
    if (!converted) {
        return failure(high ? "Text contains an unpaired high surrogate." : "Text contains an unpaired low surrogate.");
    }
    return out;
}

std::string utf16_to_utf8_lossy(std::u16string_view text) {
    std::string out;
    convert_utf16_to_utf8(text, out, [&out](char16_t) {
        append_utf8(out, kReplacementCharacter);
        return true;
    });
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const DecodedCharacter decoded = decode_utf8(text);
        append_utf16(out, decoded.code_point);
        text.remove_prefix(decoded.length);
    }
    return out;
}

std::string_view trim_white_space(std::string_view text) {
    while (const std::size_t length = leading_white_space_length(text)) text.remove_prefix(length);
    while (const std::size_t length = trailing_white_space_length(text)) text.remove_suffix(length);
    return text;
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    std::ranges::transform(out, out.begin(), ascii_lower_char);
    return out;
}

bool ascii_iequals(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return ascii_lower_char(x) == ascii_lower_char(y); });
}

bool is_valid_utf8(std::string_view text) {
    // Each ill-formed sequence comes back from the round trip as U+FFFD.
    return utf16_to_utf8_lossy(utf8_to_utf16(text)) == text;
}

}  // namespace vostrane
