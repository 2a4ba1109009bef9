#pragma once
// A small JSON reader for the test vectors: objects, arrays, strings, and the
// other scalars kept as their text. Malformed input, and the \u escapes that the
// vectors do not use, fail the calling test.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace vostrane::testing {

struct JsonValue {
    std::string scalar;  // a string's content, or a number's, true's, false's or null's text
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> members;

    [[nodiscard]] const JsonValue& operator[](const std::string& name) const {
        static const JsonValue missing;
        auto found = members.find(name);
        EXPECT_NE(found, members.end()) << "no member " << name;
        return found == members.end() ? missing : found->second;
    }
};

class JsonReader {
public:
    explicit JsonReader(std::string text) : text_(std::move(text)) {}

    JsonValue read_document() {
        JsonValue value = read_value();
        skip_space();
        EXPECT_EQ(position_, text_.size()) << "text after the JSON value";
        return value;
    }

private:
    JsonValue read_value() {
        skip_space();
        if (at_end()) return fail("unexpected end");
        switch (text_[position_]) {
            case '{': return read_object();
            case '[': return read_array();
            case '"': return JsonValue{read_string(), {}, {}};
            default: return read_bare_scalar();
        }
    }

    JsonValue read_object() {
        JsonValue object;
        ++position_;
        if (consume('}')) return object;
        do {
            skip_space();
            std::string name = read_string();
            skip_space();
            if (!consume(':')) return fail("expected ':'");
            object.members[name] = read_value();
            skip_space();
        } while (consume(','));
        if (!consume('}')) return fail("expected '}'");
        return object;
    }

    JsonValue read_array() {
        JsonValue array;
        ++position_;
        skip_space();
        if (consume(']')) return array;
        do {
            array.items.push_back(read_value());
            skip_space();
        } while (consume(','));
        if (!consume(']')) return fail("expected ']'");
        return array;
    }

    std::string read_string() {
        std::string value;
        if (!consume('"')) {
            fail("expected a string");
            return value;
        }
        while (!at_end() && text_[position_] != '"') {
            char c = text_[position_++];
            if (c != '\\') {
                value.push_back(c);
                continue;
            }
            if (at_end()) break;
            char escaped = text_[position_++];
            switch (escaped) {
                case 'n': value.push_back('\n'); break;
                case 't': value.push_back('\t'); break;
                case 'r': value.push_back('\r'); break;
                case 'b': value.push_back('\b'); break;
                case 'f': value.push_back('\f'); break;
                case 'u': fail("\\u escapes are not needed by the vectors"); break;
                default: value.push_back(escaped); break;  // \" \\ and \/
            }
        }
        if (!consume('"')) fail("unterminated string");
        return value;
    }

    JsonValue read_bare_scalar() {
        std::size_t start = position_;
        while (!at_end() && std::string_view(",]} \t\r\n").find(text_[position_]) == std::string_view::npos) {
            ++position_;
        }
        if (start == position_) return fail("expected a value");
        return JsonValue{text_.substr(start, position_ - start), {}, {}};
    }

    void skip_space() {
        while (!at_end() && std::string_view(" \t\r\n").find(text_[position_]) != std::string_view::npos) ++position_;
    }
    bool consume(char c) {
        if (at_end() || text_[position_] != c) return false;
        ++position_;
        return true;
    }
    [[nodiscard]] bool at_end() const { return position_ >= text_.size(); }

    JsonValue fail(const std::string& what) {
        ADD_FAILURE() << "JSON: " << what << " at offset " << position_;
        position_ = text_.size();
        return {};
    }

    std::string text_;
    std::size_t position_ = 0;
};

inline JsonValue read_json_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot open " << path;
    std::stringstream content;
    content << file.rdbuf();
    return JsonReader(content.str()).read_document();
}

}  // namespace vostrane::testing
