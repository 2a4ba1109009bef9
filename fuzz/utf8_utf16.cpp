// UTF-8 and UTF-16 conversion (unicode.hpp) against the reference model.
//
// The input is read twice: as UTF-8 bytes, and as UTF-16 code units (byte
// pairs, little-endian; an odd last byte is dropped).
//  - utf8_to_utf16 equals the reference decoding, U+FFFD for each maximal
//    subpart of an ill-formed sequence;
//  - the text is valid UTF-8 (RFC 3629) exactly when it survives
//    utf16_to_utf8(utf8_to_utf16(text)) byte for byte, and that conversion
//    back never fails (the decoder makes no unpaired surrogate);
//  - utf16_to_utf8 succeeds exactly when the units hold no unpaired surrogate,
//    names the kind of the first one when it fails, gives the reference UTF-8
//    when it succeeds, and that converts back to the same units;
//  - utf16_to_utf8_lossy equals utf16_to_utf8 when that succeeds, and the
//    reference (U+FFFD for each unpaired surrogate) always;
//  - trim_white_space returns a part of its text, equal to the reference trim,
//    and trimming it again changes nothing.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "reference_unicode.hpp"
#include "unicode.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

void check_utf8_direction(std::string_view text) {
    const std::u16string units = utf8_to_utf16(text);
    const std::u16string expected = utf8_to_utf16_reference(text);
    FUZZ_CHECK(units == expected, "utf8_to_utf16 of " + show(text) + "\n     gave     " + show(units) +
                                      "\n     expected " + show(expected));

    const auto back = utf16_to_utf8(units);
    FUZZ_CHECK(back.has_value(), "utf16_to_utf8 refused the output of utf8_to_utf16 for " + show(text) + ": " +
                                     (back ? std::string() : back.error()));
    const bool valid = is_valid_utf8_reference(text);
    FUZZ_CHECK(valid == (*back == text), show(text) + (valid ? " is valid UTF-8 but came back as " : " is not valid UTF-8 but came back unchanged: ") + show(*back));
}

void check_utf16_direction(std::u16string_view units) {
    std::string expected;
    bool has_unpaired = false;
    bool first_unpaired_is_high = false;
    for (const Utf16Piece& piece : decode_utf16_reference(units)) {
        if (piece.unpaired_surrogate && !has_unpaired) {
            has_unpaired = true;
            first_unpaired_is_high = piece.code_point < 0xDC00;
        }
        append_utf8_reference(expected, piece.unpaired_surrogate ? kReplacement : piece.code_point);
    }

    const std::string lossy = utf16_to_utf8_lossy(units);
    FUZZ_CHECK(lossy == expected, "utf16_to_utf8_lossy of " + show(units) + "\n     gave     " + show(lossy) +
                                      "\n     expected " + show(expected));

    const auto strict = utf16_to_utf8(units);
    FUZZ_CHECK(strict.has_value() == !has_unpaired,
               "utf16_to_utf8 of " + show(units) + (strict ? " succeeded despite an unpaired surrogate" : " failed: " + strict.error()));
    if (!strict) {
        const std::string wanted = first_unpaired_is_high ? "Text contains an unpaired high surrogate."
                                                          : "Text contains an unpaired low surrogate.";
        FUZZ_CHECK(strict.error() == wanted, "utf16_to_utf8 of " + show(units) + " said \"" + strict.error() +
                                                 "\", expected \"" + wanted + "\"");
        return;
    }
    FUZZ_CHECK(*strict == lossy, "utf16_to_utf8 " + show(*strict) + " differs from utf16_to_utf8_lossy " + show(lossy));
    const std::u16string again = utf8_to_utf16(*strict);
    FUZZ_CHECK(again == units, show(units) + " came back from UTF-8 as " + show(again));
}

void check_trim(std::string_view text) {
    const std::string_view trimmed = trim_white_space(text);
    FUZZ_CHECK(trimmed.empty() || (trimmed.data() >= text.data() && trimmed.data() + trimmed.size() <= text.data() + text.size()),
               "trim_white_space returned text outside its argument " + show(text));
    const Span span = trim_white_space_reference(text);
    const std::string_view expected = text.substr(span.begin, span.length);
    FUZZ_CHECK(trimmed == expected && (expected.empty() || trimmed.data() == expected.data()),
               "trim_white_space of " + show(text) + "\n     gave     " + show(trimmed) + "\n     expected " + show(expected));
    const std::string_view twice = trim_white_space(trimmed);
    FUZZ_CHECK(twice == trimmed, "trim_white_space is not idempotent on " + show(text) + ": once " + show(trimmed) +
                                     ", twice " + show(twice));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_utf8_direction(text);
    check_trim(text);

    std::u16string units;
    for (std::size_t i = 0; i + 1 < size; i += 2) units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    check_utf16_direction(units);
    return 0;
}
