// The result document (result_document.hpp) read back by a real JSON
// parser (nlohmann/json, strict: it refuses text that is not UTF-8).
//
// Input: four bytes of exit code (little-endian), then the status and the
// message separated by the first 0xFF byte (no 0xFF: status "error", the rest
// is the message). 0xFF never occurs in UTF-8, so it cannot cut a character.
//  - escape_json_string of any bytes is a JSON string body that reads back to
//    the same bytes (checked with the reader below, which lets bytes from 0x80
//    up through as JSON leaves them to the encoding);
//  - when status and message are valid UTF-8, the document parses as an object
//    with exactly "status", "exitCode" and "message", in that order, whose
//    values are the outcome's, and it is byte for byte the compact form that
//    the parser itself writes (escapes as short as possible, lowercase hex).
#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "reference_unicode.hpp"
#include "json_object.hpp"
#include "result_document.hpp"

using namespace vostrane;
using namespace vostrane::fuzz;

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<char32_t> read_hex4(std::string_view body, std::size_t& i) {
    if (i + 4 > body.size()) return std::nullopt;
    char32_t value = 0;
    for (std::size_t k = 0; k < 4; ++k) {
        const int digit = hex_value(body[i + k]);
        if (digit < 0) return std::nullopt;
        value = value << 4 | static_cast<char32_t>(digit);
    }
    i += 4;
    return value;
}

// The content of a JSON string (RFC 8259 section 7) without its quotes, with
// bytes from 0x80 up taken as they are.
std::optional<std::string> read_json_string_body(std::string_view body) {
    std::string out;
    for (std::size_t i = 0; i < body.size();) {
        const auto c = static_cast<unsigned char>(body[i++]);
        if (c < 0x20 || c == '"') return std::nullopt;
        if (c != '\\') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (i == body.size()) return std::nullopt;
        switch (body[i++]) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                auto unit = read_hex4(body, i);
                if (!unit) return std::nullopt;
                char32_t code_point = *unit;
                if (code_point >= 0xDC00 && code_point < 0xE000) return std::nullopt;
                if (code_point >= 0xD800 && code_point < 0xDC00) {
                    if (i + 2 > body.size() || body[i] != '\\' || body[i + 1] != 'u') return std::nullopt;
                    i += 2;
                    const auto low = read_hex4(body, i);
                    if (!low || *low < 0xDC00 || *low >= 0xE000) return std::nullopt;
                    code_point = 0x10000 + ((code_point - 0xD800) << 10) + (*low - 0xDC00);
                }
                append_utf8_reference(out, code_point);
                break;
            }
            default: return std::nullopt;
        }
    }
    return out;
}

void check_escape(std::string_view text) {
    const std::string escaped = escape_json_string(text);
    const auto read_back = read_json_string_body(escaped);
    FUZZ_CHECK(read_back.has_value(), "escape_json_string of " + show(text) + " gave no JSON string body: " + show(escaped));
    FUZZ_CHECK(*read_back == text, "escape_json_string of " + show(text) + " gave " + show(escaped) + ", which reads back as " +
                                       show(*read_back));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    UpdateOutcome outcome;
    std::uint32_t code = 0;
    for (std::size_t i = 0; i < 4 && i < size; ++i) code |= static_cast<std::uint32_t>(data[i]) << (8 * i);
    std::memcpy(&outcome.exit_code, &code, sizeof code);
    const std::string_view rest = size > 4 ? std::string_view(reinterpret_cast<const char*>(data) + 4, size - 4) : std::string_view();
    const std::size_t cut = rest.find('\xFF');
    if (cut == std::string_view::npos) {
        outcome.status = "error";
        outcome.message = rest;
    } else {
        outcome.status = rest.substr(0, cut);
        outcome.message = rest.substr(cut + 1);
    }

    check_escape(outcome.status);
    check_escape(outcome.message);

    if (!is_valid_utf8_reference(outcome.status) || !is_valid_utf8_reference(outcome.message)) return 0;
    const std::string document = result_document(outcome);
    nlohmann::ordered_json parsed;
    try {
        parsed = nlohmann::ordered_json::parse(document);
    } catch (const nlohmann::json::exception& e) {
        fail(__FILE__, __LINE__, "the result document parses as JSON", show(document) + ": " + e.what());
    }
    FUZZ_CHECK(parsed.is_object() && parsed.size() == 3, "not an object of three members: " + show(document));
    auto member = parsed.begin();
    FUZZ_CHECK(member.key() == "status" && member.value().is_string() && member.value().get<std::string>() == outcome.status,
               "\"status\" is not first or not " + show(outcome.status) + ": " + show(document));
    ++member;
    FUZZ_CHECK(member.key() == "exitCode" && member.value().is_number_integer() &&
                   member.value().get<std::int64_t>() == outcome.exit_code,
               "\"exitCode\" is not second or not " + std::to_string(outcome.exit_code) + ": " + show(document));
    ++member;
    FUZZ_CHECK(member.key() == "message" && member.value().is_string() && member.value().get<std::string>() == outcome.message,
               "\"message\" is not third or not " + show(outcome.message) + ": " + show(document));

    const nlohmann::ordered_json expected = {
        {"status", outcome.status}, {"exitCode", outcome.exit_code}, {"message", outcome.message}};
    const std::string compact = expected.dump();
    FUZZ_CHECK(document == compact, "the document\n     " + show(document) + "\n     is not the compact form\n     " + show(compact));
    return 0;
}
