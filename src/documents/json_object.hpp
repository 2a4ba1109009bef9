#pragma once
// The small flat JSON objects the helper, the signing tool and the application
// hand each other (the feed manifest, the helper's result document): a strict
// reader, and the string form their writers use.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "result.hpp"

namespace vostrane {

// A member's value: a string (as UTF-8) or an integer. Nothing else occurs in
// the documents read here, so anything else is an error.
using JsonValue = std::variant<std::string, std::int64_t>;

struct JsonMember {
    std::string name;
    JsonValue value;
};

// One JSON object (RFC 8259) whose values are strings or integers, with white
// space allowed around tokens; members in the order written. Refused, with a
// message saying where: any other value, a name given twice, invalid UTF-8
// (named at the character's first byte), an unpaired surrogate escape, an
// escaped NUL ("\u0000", which a C caller would take for the text's end), a
// number with a fraction, an exponent, a leading zero or beyond 64 bits, and
// anything after the object. White space is what RFC 8259 allows: space,
// tab, line feed and carriage return.
Result<std::vector<JsonMember>> read_flat_json_object(std::string_view text);

// JSON string escaping of UTF-8 text, without the surrounding quotes.
std::string escape_json_string(std::string_view text);
// The text as a JSON string: escaped, in quotes.
std::string json_string(std::string_view text);

}  // namespace vostrane
