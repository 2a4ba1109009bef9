#include "reporting/result_file.hpp"

#include <string>

namespace vostrane {

namespace {

void append_control_escape(std::string& out, unsigned char c) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += "\\u00";
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 0x0F]);
}

void append_json_string(std::string& out, std::string_view text) {
    out.push_back('"');
    out += escape_json_string(text);
    out.push_back('"');
}

}  // namespace

std::string escape_json_string(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // Byte by byte: only ASCII needs escaping, so UTF-8 sequences (and even
    // invalid bytes) pass through untouched.
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\f': out += "\\f"; break;
            case '\r': out += "\\r"; break;
            default:
                if (c < 0x20) {
                    append_control_escape(out, c);
                } else {
                    out.push_back(ch);
                }
        }
    }
    return out;
}

std::string result_document(const UpdateOutcome& outcome) {
    std::string document = "{\"status\":";
    append_json_string(document, outcome.status);
    document += ",\"exitCode\":";
    document += std::to_string(outcome.exit_code);
    document += ",\"message\":";
    append_json_string(document, outcome.message);
    document.push_back('}');
    return document;
}

}  // namespace vostrane
