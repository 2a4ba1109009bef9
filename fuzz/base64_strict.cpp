// Strict Base64 (update_security/base64.hpp) against OpenSSL's encoder.
//
// The input is read both as text to decode and as bytes to encode.
//  - decode_base64_strict accepts the text exactly when some byte string
//    encodes to it (standard alphabet, "=" padding): every text it accepts
//    re-encodes to exactly the same text, and every such text is accepted;
//  - encode_base64 of the bytes equals OpenSSL's EVP_EncodeBlock, and decodes
//    back to the same bytes.
#include <openssl/evp.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "update_security/base64.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

std::string openssl_encode(std::span<const std::uint8_t> bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(), static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(written));
    return text;
}

// The only byte string whose encoding could be `text`, if any: a whole number
// of 4-character groups, at most two "=" and only at the end, every other
// character in the alphabet; the bits past the last whole byte are dropped.
std::optional<std::vector<std::uint8_t>> candidate_bytes(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    const std::string_view data = text.substr(0, text.size() - padding);
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int bit_count = 0;
    for (const char c : data) {
        int value;
        if (c >= 'A' && c <= 'Z') value = c - 'A';
        else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
        else if (c >= '0' && c <= '9') value = c - '0' + 52;
        else if (c == '+') value = 62;
        else if (c == '/') value = 63;
        else return std::nullopt;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        bit_count += 6;
        if (bit_count >= 8) {
            bit_count -= 8;
            bytes.push_back(static_cast<std::uint8_t>(bits >> bit_count));
            bits &= (1u << bit_count) - 1;
        }
    }
    return bytes;
}

std::string show_bytes(std::span<const std::uint8_t> bytes) {
    return show(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::span<const std::uint8_t> bytes(data, size);

    const auto decoded = decode_base64_strict(text);
    const auto candidate = candidate_bytes(text);
    const bool canonical = candidate && openssl_encode(*candidate) == text;
    if (decoded) {
        const std::string again = openssl_encode(*decoded);
        FUZZ_CHECK(again == text, "decode_base64_strict accepted " + show(text) + " as " + show_bytes(*decoded) +
                                      ", which encodes to " + show(again));
    } else {
        FUZZ_CHECK(!canonical, "decode_base64_strict refused the canonical encoding " + show(text) + " of " +
                                   show_bytes(*candidate) + ": " + decoded.error());
        FUZZ_CHECK(decoded.error() == "Invalid Base64 text.", "unexpected error text: " + decoded.error());
    }

    const std::string encoded = encode_base64(bytes);
    const std::string expected = openssl_encode(bytes);
    FUZZ_CHECK(encoded == expected, "encode_base64 of " + show_bytes(bytes) + "\n     gave     " + show(encoded) +
                                        "\n     expected " + show(expected));
    const auto round_trip = decode_base64_strict(encoded);
    FUZZ_CHECK(round_trip && std::ranges::equal(*round_trip, bytes),
               "decode_base64_strict did not give back the bytes of " + show(encoded));
    return 0;
}
