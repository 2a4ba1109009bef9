#include "json_object.hpp"

#include <limits>
#include <optional>
#include <set>

#include "unicode.hpp"

namespace vostrane {
namespace {

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::optional<unsigned> hex_digit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// Reads the text from left to right; every error names the byte offset.
class Reader {
public:
    explicit Reader(std::string_view text) : text_(text) {}

    Result<std::vector<JsonMember>> object() {
        skip_space();
        if (!take('{')) return error("expected '{'");
        std::vector<JsonMember> members;
        // Ordered, not hashed: a hash's collisions can be chosen by whoever
        // writes the document, a tree's comparisons cannot grow past n log n.
        std::set<std::string, std::less<>> names;
        skip_space();
        if (take('}')) return finish(std::move(members));
        while (true) {
            skip_space();
            auto name = string();
            RETURN_IF_FAILED(name);
            if (!names.insert(*name).second) return error("\"" + *name + "\" is given twice");
            skip_space();
            if (!take(':')) return error("expected ':'");
            skip_space();
            auto value = this->value();
            RETURN_IF_FAILED(value);
            members.push_back({std::move(*name), std::move(*value)});
            skip_space();
            if (take('}')) return finish(std::move(members));
            if (!take(',')) return error("expected ',' or '}'");
        }
    }

private:
    Result<std::vector<JsonMember>> finish(std::vector<JsonMember> members) {
        skip_space();
        if (position_ != text_.size()) return error("unexpected text after the object");
        return members;
    }

    Result<JsonValue> value() {
        if (peek() == '"') {
            auto text = string();
            RETURN_IF_FAILED(text);
            return JsonValue(std::move(*text));
        }
        if (peek() == '-' || is_digit(peek())) {
            auto number = integer();
            RETURN_IF_FAILED(number);
            return JsonValue(*number);
        }
        return error("expected a string or an integer");
    }

    Result<std::int64_t> integer() {
        const bool negative = take('-');
        if (!is_digit(peek())) return error("expected a digit");
        if (peek() == '0' && position_ + 1 < text_.size() && is_digit(text_[position_ + 1])) {
            return error("a number has a leading zero");
        }
        // Accumulated as a negative number, which reaches the minimum of 64 bits.
        std::int64_t value = 0;
        constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
        while (is_digit(peek())) {
            const int digit = text_[position_++] - '0';
            if (value < (kMin + digit) / 10) return error("a number is out of range");
            value = value * 10 - digit;
        }
        if (peek() == '.' || peek() == 'e' || peek() == 'E') return error("a number is not an integer");
        if (!negative) {
            if (value == kMin) return error("a number is out of range");
            value = -value;
        }
        return value;
    }

    Result<std::string> string() {
        if (!take('"')) return error("expected '\"'");
        std::string out;
        while (true) {
            if (position_ == text_.size()) return error("a string is not closed");
            const char c = text_[position_];
            if (c == '"') {
                ++position_;
                break;
            }
            if (static_cast<unsigned char>(c) < 0x20) return error("a control character in a string");
            if (static_cast<unsigned char>(c) >= 0x80) {
                RETURN_IF_FAILED(utf8_character(out));
                continue;
            }
            if (c != '\\') {
                out += c;
                ++position_;
                continue;
            }
            RETURN_IF_FAILED(escape(out));
        }
        return out;
    }

    // One character of two to four bytes, checked where it stands, so that an
    // error names its first byte.
    Status utf8_character(std::string& out) {
        const auto lead = static_cast<unsigned char>(text_[position_]);
        const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
        const std::string_view character = text_.substr(position_, length);
        if (character.size() < length || !is_valid_utf8(character)) return error("a string is not valid UTF-8");
        out += character;
        position_ += length;
        return {};
    }

    // From the backslash on.
    Status escape(std::string& out) {
        const std::size_t start = position_++;
        if (position_ == text_.size()) return error("a string is not closed");
        const char c = text_[position_++];
        switch (c) {
            case '"': out += '"'; return {};
            case '\\': out += '\\'; return {};
            case '/': out += '/'; return {};
            case 'b': out += '\b'; return {};
            case 'f': out += '\f'; return {};
            case 'n': out += '\n'; return {};
            case 'r': out += '\r'; return {};
            case 't': out += '\t'; return {};
            case 'u': break;
            default: return error("an unknown escape");
        }
        auto unit = code_unit();
        RETURN_IF_FAILED(unit);
        // A C caller would read the text as ending there.
        if (*unit == 0) return error_at(start, "a NUL character in a string");
        std::u16string units(1, *unit);
        if (*unit >= 0xDC00 && *unit <= 0xDFFF) return error("an unpaired surrogate");
        if (*unit >= 0xD800 && *unit <= 0xDBFF) {
            if (!take('\\') || !take('u')) return error("an unpaired surrogate");
            auto low = code_unit();
            RETURN_IF_FAILED(low);
            if (*low < 0xDC00 || *low > 0xDFFF) return error("an unpaired surrogate");
            units += *low;
        }
        out += *utf16_to_utf8(units);  // paired above, so it converts
        return {};
    }

    Result<char16_t> code_unit() {
        char16_t unit = 0;
        for (int i = 0; i < 4; ++i) {
            const auto digit = position_ < text_.size() ? hex_digit(text_[position_]) : std::nullopt;
            if (!digit) return error("expected four hex digits after \\u");
            unit = static_cast<char16_t>(unit * 16 + *digit);
            ++position_;
        }
        return unit;
    }

    void skip_space() {
        while (position_ < text_.size() && is_json_space(text_[position_])) ++position_;
    }
    [[nodiscard]] char peek() const { return position_ < text_.size() ? text_[position_] : '\0'; }
    bool take(char c) {
        if (peek() != c || position_ == text_.size()) return false;
        ++position_;
        return true;
    }
    [[nodiscard]] std::unexpected<std::string> error(const std::string& what) const { return error_at(position_, what); }
    [[nodiscard]] static std::unexpected<std::string> error_at(std::size_t offset, const std::string& what) {
        return failure(what + " at byte " + std::to_string(offset));
    }

    std::string_view text_;
    std::size_t position_ = 0;
};

void append_control_escape(std::string& out, unsigned char c) {
    static constexpr char kHexDigits[] = "0123456789abcdef";
    out += "\\u00";
    out.push_back(kHexDigits[c >> 4]);
    out.push_back(kHexDigits[c & 0x0F]);
}

}  // namespace

Result<std::vector<JsonMember>> read_flat_json_object(std::string_view text) { return Reader(text).object(); }

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

std::string json_string(std::string_view text) { return "\"" + escape_json_string(text) + "\""; }

}  // namespace vostrane
